// The scene is resources only; a static library still wants one translation unit.
