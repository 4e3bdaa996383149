// What the six operation pages share: rows of label, history combo box and browse button,
// the action and report buttons, and the split of an operation into reading the fields
// (window thread) and calling the engine (worker thread).
#pragma once

#include "enginecalls.h"
#include "visitors.h"

#include <QComboBox>
#include <QGridLayout>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <initializer_list>

#include <QFileDialog>

enum class FileFilter { patch, vault, report };

// Sets up a file dialog as the pages use it: the filter's pairs with the first selected, the
// current text as the initial name, the first filter's extension for names typed without one,
// and no overwrite prompt.
void configureFileDialog(QFileDialog& dialog, FileFilter filter, bool save, const QString& current);

// The pages' file dialog: it closes only on a file whose folder exists, so that a run does not
// start with an output path it cannot create. The complaint is a message box unless replaced.
class FileDialog : public QFileDialog {
    Q_OBJECT
  public:
    using QFileDialog::QFileDialog;
    std::function<void(const QString&)> complain;
    void accept() override;
};

// An editable history field: no inline completion and no matching that ignores letter case,
// so the text that reaches the engine is exactly the typed one; a dropped file or folder
// replaces the text with its local path.
QComboBox* makeHistoryField(QWidget* parent);

// The engine call of one run, with the field texts already taken from the page.
using EngineJob = std::function<void(CProgressSink*)>;

class PageBase : public QWidget, public CCmnDlgFunctions {
    Q_OBJECT
  public:
    PageBase(int operation, std::u16string prefix, QWidget* parent);

    int operation() const { return operation_; }
    // Called on the window's thread at the start of a run.
    virtual EngineJob prepare(const EngineCalls& calls) = 0;
    // The file a run of this page creates (the patch), empty when it creates none that a
    // broken-off run could leave half written. Window thread.
    virtual std::u16string outputFile() const { return {}; }

    QPushButton* helpButton; // present on every page, never shown

  signals:
    void actionRequested(int operation);
    void viewReportRequested(const QString& path);

  protected:
    struct Item {
        const char16_t* field; // u"" for controls without a history
        QWidget* control;
    };
    void visitItems(CDlgItemsItSink& visitor, std::initializer_list<Item> items);

    QComboBox* addComboRow(const QString& label);
    void addLabelledRow(const QString& label, QWidget* field);
    QPushButton* addFolderBrowse(QComboBox* target);
    QPushButton* addFileBrowse(QComboBox* target, FileFilter filter, bool save);
    QPushButton* addActionButton(const QString& text);
    QPushButton* addViewReportButton(QComboBox* reportField);
    void addRowWidget(QWidget* widget); // a full-width row (check boxes, result fields)

    static std::u16string text(const QComboBox* combo) {
        return combo->currentText().toStdU16String();
    }

  private:
    QPushButton* addBrowseButton();

    int operation_;
    std::u16string prefix_;
    QGridLayout* grid_;
    QHBoxLayout* buttons_;
    int row_ = 0;
};
