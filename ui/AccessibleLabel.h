#pragma once

class QLabel;

/// Screen readers read the window's clock and status line as text: such a label keeps its
/// name ("Clock", "Status") and offers what it shows through the text interface and as its
/// value, its tooltip (the reason for the state) as its description.
namespace AccessibleLabel {

/// Makes `label` read as text.
void readAsText(QLabel *label);

} // namespace AccessibleLabel
