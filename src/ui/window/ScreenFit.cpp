#include "ui/window/ScreenFit.h"

#include <QApplication>
#include <QCloseEvent>
#include <QScreen>
#include <QScrollBar>

#include "ui/window/MainWindow.h"
#include "ui/window/WindowLayout.h"

namespace marvesa {

bool fitsOnScreen(const QSize& client, const QRect& available) {
    return client.width() + kFrameAllowance.width() <= available.width() &&
           client.height() + kFrameAllowance.height() <= available.height();
}

WindowScroller::WindowScroller(TfrmMain& window, const QRect& available) : m_window(window) {
    setObjectName(QStringLiteral("frmMainScroller"));
    setWindowTitle(window.windowTitle());
    setWindowIcon(window.windowIcon());
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(false);
    QPalette p = palette();
    p.setColor(QPalette::Window, layout::colors::kWindowBackground);
    setPalette(p);
    // The window becomes the scroll area's content: same size, same layout.
    window.setWindowFlags(Qt::Widget);
    setWidget(&window);

    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const QSize content = window.size() + QSize(bar, bar);
    const QSize room = available.size() - kFrameAllowance;
    resize(content.boundedTo(room));
    setMaximumSize(content);
    move(available.topLeft());

    // Every focus move into the window brings the control into view: Tab,
    // a command that puts the focus somewhere, a shortcut.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (now && m_window.isAncestorOf(now))
            ensureWidgetVisible(now, 16, 16);
    });
}

WindowScroller::~WindowScroller() {
    // The window belongs to the program, which releases it in its own order.
    takeWidget();
}

void WindowScroller::closeEvent(QCloseEvent* event) {
    event->ignore();
    QCloseEvent request;
    QCoreApplication::sendEvent(&m_window, &request);
}

std::unique_ptr<QWidget> showMainWindow(TfrmMain& window) {
    QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    if (!screen || fitsOnScreen(window.size(), available)) {
        window.show();
        return nullptr;
    }
    auto scroller = std::make_unique<WindowScroller>(window, available);
    scroller->show();
    window.show();
    return scroller;
}

}  // namespace marvesa
