import Theme

Splash {
    brand: "Tavik"
    artwork: "qrc:/Images/splash_neutral.svg"
    accent: Theme.idleTextColor
}
