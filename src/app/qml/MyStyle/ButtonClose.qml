WindowButton {
    imageName: "close"
}
