// The window's message boxes: an icon, the text selectable and wrapped (long paths break
// anywhere instead of being cut off), and an OK button.
#pragma once

#include <QDialog>
#include <QString>

class QPlainTextEdit;

enum class MessageKind { error, warning };

class MessageBox : public QDialog {
    Q_OBJECT
  public:
    MessageBox(MessageKind kind, const QString& text, QWidget* parent);

    MessageKind kind() const { return kind_; }
    QPlainTextEdit* textView;

  private:
    MessageKind kind_;
};

// The engine writes absolute paths with "\" between components; shown to a person they take
// the platform's own form. Only the part from the first absolute path to the end of each line
// is touched: the fixed texts before it keep their characters.
QString displayPaths(const QString& text);
