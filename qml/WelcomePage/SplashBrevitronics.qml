Splash {
    brand: "Brevitronics"
    artwork: "qrc:/Images/splash_brevitronics.svg"
    accent: "#0075B9"
}
