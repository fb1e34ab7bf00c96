#pragma once

#include <QRect>
#include <QScrollArea>
#include <memory>

namespace marvesa {

class TfrmMain;

// The main window's layout has a fixed size. On a screen whose available
// area cannot hold it with its frame (a 1366 × 768 laptop, a 1920 × 1080
// screen at 150 %), the same layout is shown inside this scroll area, sized
// to the screen; whichever control takes the keyboard focus is scrolled into
// view. The scroll area carries the window's title, and a request to close
// it is the window's own close request.
class WindowScroller : public QScrollArea {
    Q_OBJECT
public:
    explicit WindowScroller(TfrmMain& window, const QRect& available);
    ~WindowScroller() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    TfrmMain& m_window;
};

// Room the window system needs around a window's client area for its frame
// and title bar.
const QSize kFrameAllowance(16, 40);

// Whether a client area of `client` pixels fits in `available` with its frame.
bool fitsOnScreen(const QSize& client, const QRect& available);

// Shows the main window as it is where it fits on its screen, otherwise
// inside a WindowScroller, which is returned (null when none was needed).
std::unique_ptr<QWidget> showMainWindow(TfrmMain& window);

}  // namespace marvesa
