#pragma once
// Turns a combo box into an editable one with a line edit and no completer: the state
// QComboBox::setEditable(true) followed by setCompleter(nullptr) leaves, without the
// work that state does not keep. The toolkit makes a completer for the new line edit
// (a model that follows every entry of the box) only to have it removed, and makes
// the drop-down list at once; here the list is made when it is first needed, as the
// toolkit makes it for an editable box. A box whose list already exists, or whose
// style shows an editable box's list as a popup, goes the toolkit's own way.
class QComboBox;

void makeEditable(QComboBox *box);
