WindowButton {
    imageName: "maximize"
}
