#include "visitors.h"

void CControlEnabler::visit(const std::u16string&, QWidget* control) {
    control->setEnabled(true);
}

void CControlDisabler::visit(const std::u16string&, QWidget* control) {
    control->setEnabled(false);
}
