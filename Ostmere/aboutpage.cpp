#include "aboutpage.h"

#include "credits.h"

#include <QPainter>
#include <QResizeEvent>
#include <QVBoxLayout>

namespace {
const QColor background = Qt::white;
const QColor headingColour(0, 100, 0);
constexpr int headingHeight = 17;
constexpr int lineHeight = 15;
constexpr int lineSpace = 20; // room below the visible area for the line coming in
} // namespace

struct CDlgHelp::State {
    QPixmap canvas; // the visible area and, below it, the line that scrolls in
    int visibleHeight = 0;
    std::size_t entry = 0;
    int tickCounter = 1;
    int pitch = initialPitch;
    const char* line = nullptr;
    bool pending = false;
};

// Shows the top of the scroller's canvas.
class CreditDisplay : public QWidget {
  public:
    CreditDisplay(CDlgHelp* page) : QWidget(page), page_(page) {
        setMinimumSize(612, 175);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), background);
        if (page_->state_)
            painter.drawPixmap(0, 0, page_->state_->canvas);
    }
    void resizeEvent(QResizeEvent*) override { page_->fitCanvas(); }

  private:
    CDlgHelp* page_;
};

CDlgHelp::CDlgHelp(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    display = new CreditDisplay(this);
    layout->addWidget(display, 1);
    timer_.setInterval(tickMilliseconds);
    connect(&timer_, &QTimer::timeout, this, &CDlgHelp::tick);
}

CDlgHelp::~CDlgHelp() {
    stopScrolling();
}

void CDlgHelp::startScrolling() {
    if (state_)
        return;
    state_ = std::make_unique<State>();
    const QSize area = display->size().expandedTo(display->minimumSize());
    state_->visibleHeight = area.height();
    state_->canvas = QPixmap(area.width(), area.height() + lineSpace);
    state_->canvas.fill(background);
    timer_.start();
    display->update();
}

// A resized display keeps the lines already shown: the canvas grows or shrinks around them,
// the text staying centred and its newest line staying at the bottom.
void CDlgHelp::fitCanvas() {
    if (!state_)
        return display->update();
    State& s = *state_;
    const QSize area = display->size().expandedTo(display->minimumSize());
    if (area.width() == s.canvas.width() && area.height() == s.visibleHeight)
        return;
    QPixmap canvas(area.width(), area.height() + lineSpace);
    canvas.fill(background);
    QPainter(&canvas).drawPixmap((area.width() - s.canvas.width()) / 2,
                                 area.height() - s.visibleHeight, s.canvas);
    s.canvas = canvas;
    s.visibleHeight = area.height();
    display->update();
}

void CDlgHelp::stopScrolling() {
    timer_.stop();
    state_.reset();
}

void CDlgHelp::tick() {
    if (!state_)
        return;
    State& s = *state_;
    if (s.tickCounter % s.pitch == 0) {
        s.line = credits[s.entry];
        s.entry = (s.entry + 1) % credits.size();
        s.tickCounter = 1;
        s.pending = true;
    } else {
        ++s.tickCounter;
    }
    s.canvas.scroll(0, -1, s.canvas.rect());
    QPainter(&s.canvas).fillRect(0, s.canvas.height() - 1, s.canvas.width(), 1, background);
    if (s.pending)
        drawLine(s);
    display->update();
}

// The line goes just below the visible area and comes into view a pixel per tick.
void CDlgHelp::drawLine(State& s) {
    s.pending = false;
    const QByteArray entry(s.line);
    if (entry.isEmpty())
        return; // a spacer keeps the pitch
    const bool heading = entry.endsWith('\t');
    QFont font("Arial");
    font.setPixelSize(heading ? headingHeight : lineHeight);
    font.setWeight(heading ? QFont::Bold : QFont::Thin);
    s.pitch = font.pixelSize();
    QPainter painter(&s.canvas);
    const QRect strip(0, s.visibleHeight, s.canvas.width(), lineSpace);
    painter.setFont(font);
    painter.setPen(heading ? headingColour : QColor(Qt::black));
    painter.drawText(strip, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine,
                     QString::fromLatin1(entry.chopped(1)));
}

std::size_t CDlgHelp::nextEntry() const {
    return state_ ? state_->entry : 0;
}

QString CDlgHelp::currentLine() const {
    return state_ && state_->line ? QString::fromLatin1(state_->line) : QString();
}

int CDlgHelp::linePitch() const {
    return state_ ? state_->pitch : initialPitch;
}
