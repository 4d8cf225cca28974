WindowButton {
    imageName: "normal"
}
