Splash {
    brand: "Norvane"
    artwork: "qrc:/Images/splash_norvane.svg"
    accent: "#F16321"
}
