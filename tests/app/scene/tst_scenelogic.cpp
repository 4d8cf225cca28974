// Runs the scene's tst_*.qml files from this directory.
#include <QtQuickTest>

QUICK_TEST_MAIN(scenelogic)
