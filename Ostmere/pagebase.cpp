#include "pagebase.h"

#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>
#include <QVBoxLayout>

namespace {

struct FilterPair {
    const char* description;
    const char* extension;
};

FilterPair firstPair(FileFilter filter) {
    switch (filter) {
    case FileFilter::patch:
        return {"tkPatch files (*.tkp)", "tkp"};
    case FileFilter::vault:
        return {"tkVault files (*.tkv)", "tkv"};
    case FileFilter::report:
        break;
    }
    return {"tkPatch Report files (*.xml)", "xml"};
}

// The local path of the first dropped URL, empty when the drop holds none.
QString droppedPath(const QMimeData* mime) {
    if (!mime || !mime->hasUrls())
        return {};
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile())
            return QDir::toNativeSeparators(url.toLocalFile());
    return {};
}

// Files and folders dropped on a field replace its text instead of inserting their URL.
class PathDropFilter : public QObject {
  public:
    PathDropFilter(QComboBox* field) : QObject(field), field_(field) {}

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (droppedPath(drag->mimeData()).isEmpty())
                return false;
            drag->acceptProposedAction();
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const QString path = droppedPath(drop->mimeData());
            if (path.isEmpty())
                return false;
            field_->setEditText(path);
            drop->acceptProposedAction();
            return true;
        }
        default:
            return false;
        }
    }

  private:
    QComboBox* field_;
};

} // namespace

QComboBox* makeHistoryField(QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->setEditable(true);
    // Without a completer the combo also matches its list case-sensitively on Enter.
    combo->setCompleter(nullptr);
    combo->setInsertPolicy(QComboBox::NoInsert); // the list changes only by the history
    combo->setAcceptDrops(true);
    auto* filter = new PathDropFilter(combo);
    combo->installEventFilter(filter);
    combo->lineEdit()->installEventFilter(filter);
    return combo;
}

void FileDialog::accept() {
    const QStringList chosen = selectedFiles();
    if (!chosen.isEmpty() && fileMode() == AnyFile) {
        const QFileInfo file(chosen.first());
        if (!file.isDir() && !file.absoluteDir().exists()) {
            const QString text =
                "The folder does not exist:\n" + QDir::toNativeSeparators(file.absolutePath());
            if (complain)
                complain(text);
            else
                QMessageBox::warning(this, windowTitle(), text);
            return;
        }
    }
    QFileDialog::accept();
}

void configureFileDialog(QFileDialog& dialog, FileFilter filter, bool save,
                         const QString& current) {
    const FilterPair first = firstPair(filter);
    dialog.setNameFilters({first.description, "All files (*.*)"});
    dialog.selectNameFilter(first.description);
    dialog.setDefaultSuffix(first.extension);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // Only the folder must exist, also when opening.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    // The toolkit's own dialog, so that the folder check of FileDialog::accept applies.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.selectFile(current);
}

PageBase::PageBase(int operation, std::u16string prefix, QWidget* parent)
    : QWidget(parent), operation_(operation), prefix_(std::move(prefix)) {
    auto* outer = new QVBoxLayout(this);
    grid_ = new QGridLayout;
    grid_->setColumnStretch(1, 1);
    outer->addLayout(grid_);
    outer->addStretch(1);
    buttons_ = new QHBoxLayout;
    helpButton = new QPushButton("Help", this);
    helpButton->hide();
    buttons_->addWidget(helpButton);
    buttons_->addStretch(1);
    outer->addLayout(buttons_);
}

void PageBase::visitItems(CDlgItemsItSink& visitor, std::initializer_list<Item> items) {
    for (const Item& item : items)
        visitor.visit(prefix_ + item.field, item.control);
}

QComboBox* PageBase::addComboRow(const QString& label) {
    QComboBox* combo = makeHistoryField(this);
    combo->setMinimumContentsLength(30);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    addLabelledRow(label, combo);
    return combo;
}

void PageBase::addLabelledRow(const QString& label, QWidget* field) {
    auto* caption = new QLabel(label, this);
    caption->setBuddy(field);
    grid_->addWidget(caption, row_, 0);
    grid_->addWidget(field, row_, 1);
    ++row_;
}

QPushButton* PageBase::addBrowseButton() {
    auto* button = new QPushButton("...", this);
    button->setFixedWidth(27);
    button->setToolTip("Browse");
    grid_->addWidget(button, row_ - 1, 2);
    return button;
}

QPushButton* PageBase::addFolderBrowse(QComboBox* target) {
    QPushButton* button = addBrowseButton();
    button->setToolTip("Choose a folder");
    connect(button, &QPushButton::clicked, this, [target] {
        const QString chosen = QFileDialog::getExistingDirectory(
            nullptr, "Select directory to scan.", target->currentText(), QFileDialog::ShowDirsOnly);
        if (!chosen.isEmpty())
            target->setEditText(QDir::toNativeSeparators(chosen));
    });
    return button;
}

QPushButton* PageBase::addFileBrowse(QComboBox* target, FileFilter filter, bool save) {
    QPushButton* button = addBrowseButton();
    button->setToolTip(save ? "Choose where to save the file" : "Choose a file");
    connect(button, &QPushButton::clicked, this, [target, filter, save] {
        FileDialog dialog;
        configureFileDialog(dialog, filter, save, target->currentText());
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            target->setEditText(dialog.selectedFiles().first());
    });
    return button;
}

QPushButton* PageBase::addActionButton(const QString& text) {
    auto* button = new QPushButton(text, this);
    button->setMinimumWidth(90);
    buttons_->addWidget(button);
    connect(button, &QPushButton::clicked, this, [this] { emit actionRequested(operation_); });
    return button;
}

QPushButton* PageBase::addViewReportButton(QComboBox* reportField) {
    auto* button = new QPushButton("&View XML Diff Report", this);
    buttons_->addWidget(button); // pages add it before their action button
    connect(button, &QPushButton::clicked, this,
            [this, reportField] { emit viewReportRequested(reportField->currentText()); });
    return button;
}

void PageBase::addRowWidget(QWidget* widget) {
    grid_->addWidget(widget, row_++, 0, 1, 3);
}
