WindowButton {
    imageName: "minimize"
}
