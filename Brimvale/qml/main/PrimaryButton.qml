import QtQuick
import QtQuick.Controls
import Brimvale

// The one button of a place that goes ahead: in the accent colour while it can be pressed.
Button {
    palette.button: enabled ? Theme.accent : Theme.hover
    // The dark accent is light: dark text keeps it readable.
    palette.buttonText: !enabled ? Theme.tertiaryText : Theme.dark ? "#15151a" : Theme.accentText
}
