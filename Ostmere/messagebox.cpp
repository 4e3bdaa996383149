#include "messagebox.h"

#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

MessageBox::MessageBox(MessageKind kind, const QString& text, QWidget* parent)
    : QDialog(parent), kind_(kind) {
    setWindowTitle("Ostmere");
    auto* icon = new QLabel(this);
    const auto pixmap =
        kind == MessageKind::error ? QStyle::SP_MessageBoxCritical : QStyle::SP_MessageBoxWarning;
    const int side = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(pixmap, nullptr, this).pixmap(side, side));
    icon->setAlignment(Qt::AlignTop);

    textView = new QPlainTextEdit(text, this);
    textView->setReadOnly(true);
    textView->setFrameShape(QFrame::NoFrame);
    textView->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    textView->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    textView->viewport()->setAutoFillBackground(false);
    const QFontMetrics metrics(textView->font());
    const int lines = std::min<int>(text.count('\n') + 3, 14);
    textView->setMinimumSize(metrics.averageCharWidth() * 60, metrics.lineSpacing() * lines);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addWidget(textView, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row, 1);
    layout->addWidget(buttons);
    buttons->button(QDialogButtonBox::Ok)->setFocus();
}

QString displayPaths(const QString& text) {
#ifdef _WIN32
    return text;
#else
    QStringList lines = text.split('\n');
    for (QString& line : lines) {
        for (qsizetype i = 0; i < line.size(); ++i) {
            const bool startsPath =
                line[i] == '\\' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == ':');
            if (startsPath) {
                line.replace(i, line.size() - i, line.mid(i).replace('\\', '/'));
                break;
            }
        }
    }
    return lines.join('\n');
#endif
}
