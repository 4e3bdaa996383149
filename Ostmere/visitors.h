// Visiting the controls of an operation page: each page lists its controls in a fixed order
// under their history keys, and the visitors act on them (enable, disable, load, store).
#pragma once

#include <QWidget>
#include <string>

class CDlgItemsItSink {
  public:
    // key: the page's prefix plus the control's field name; the prefix alone for controls
    // without a history.
    virtual void visit(const std::u16string& key, QWidget* control) = 0;

  protected:
    ~CDlgItemsItSink() = default;
};

// Second base of every operation page.
class CCmnDlgFunctions {
  public:
    virtual void forEachItem(CDlgItemsItSink& visitor) = 0;
    // Hooks a page may fill in; none of the pages needs them.
    virtual void onOperationStarted() {}
    virtual void onOperationEnded() {}
    virtual void onFieldsLoaded() {}

  protected:
    ~CCmnDlgFunctions() = default;
};

class CControlEnabler : public CDlgItemsItSink {
  public:
    void visit(const std::u16string& key, QWidget* control) override;
};

class CControlDisabler : public CDlgItemsItSink {
  public:
    void visit(const std::u16string& key, QWidget* control) override;
};
