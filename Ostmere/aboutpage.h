// The About page: the credits scroll up through a fixed display area while the page is shown.
#pragma once

#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <memory>

class CDlgHelp : public QWidget {
    Q_OBJECT
  public:
    static constexpr int tickMilliseconds = 40;
    static constexpr int initialPitch = 15;

    explicit CDlgHelp(QWidget* parent = nullptr);
    ~CDlgHelp();

    void startScrolling(); // does nothing while already scrolling
    void stopScrolling();
    bool isScrolling() const { return state_ != nullptr; }

    // One step of the scroller: a new entry every pitch ticks, the text one pixel up.
    void tick();
    std::size_t nextEntry() const; // index of the entry the next new line takes
    QString currentLine() const;   // the entry last taken, as stored
    int linePitch() const;

    QWidget* display; // the area the text scrolls through
    // Matches the scroller's canvas to the display's size after a resize.
    void fitCanvas();

  private:
    struct State;
    friend class CreditDisplay;
    void drawLine(State& state);

    std::unique_ptr<State> state_;
    QTimer timer_;
};
