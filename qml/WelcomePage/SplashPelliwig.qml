Splash {
    brand: "Pelliwig"
    artwork: "qrc:/Images/splash_pelliwig.svg"
    accent: "#6CBF00"
}
