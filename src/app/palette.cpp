#include "palette.h"

QPalette tavikPalette()
{
    const QColor window(0x42, 0x43, 0x44);
    const QColor lightText(0xE0, 0xE0, 0xE0);
    const QColor greyText(0x94, 0x91, 0x90);
    const QColor disabledText(0x74, 0x71, 0x70);

    QPalette palette;
    palette.setBrush(QPalette::All, QPalette::Window, window);
    palette.setBrush(QPalette::Active, QPalette::WindowText, lightText);
    palette.setBrush(QPalette::Inactive, QPalette::WindowText, greyText);
    palette.setBrush(QPalette::Disabled, QPalette::WindowText, disabledText);
    palette.setBrush(QPalette::Active, QPalette::Button, window.lighter(145));
    palette.setBrush(QPalette::Inactive, QPalette::Button, window);
    palette.setBrush(QPalette::Disabled, QPalette::Button, greyText);
    palette.setBrush(QPalette::Active, QPalette::ButtonText, lightText);
    palette.setBrush(QPalette::Inactive, QPalette::ButtonText, lightText);
    palette.setBrush(QPalette::Disabled, QPalette::ButtonText, disabledText);
    palette.setBrush(QPalette::All, QPalette::Base, QColor(0x50, 0x50, 0x50));
    palette.setBrush(QPalette::Active, QPalette::Text, QColor(0xE5, 0xE5, 0xE5));
    palette.setBrush(QPalette::Inactive, QPalette::Text, QColor(0xE5, 0xE5, 0xE5));
    palette.setBrush(QPalette::Disabled, QPalette::Text, disabledText);
    palette.setBrush(QPalette::All, QPalette::Highlight, QColor(0x76, 0x74, 0x7C));
    palette.setBrush(QPalette::All, QPalette::HighlightedText, QColor(0xF6, 0xF5, 0xF4));
    palette.setBrush(QPalette::All, QPalette::ToolTipBase, window);
    palette.setBrush(QPalette::All, QPalette::ToolTipText, lightText);
    palette.setBrush(QPalette::All, QPalette::LinkVisited, greyText);
    return palette;
}
