#include "ui/bound/DBNavigator.h"

#include <QStyle>
#include <QToolButton>

#include "ui/services/ErrorReport.h"

namespace marvesa {

namespace {

struct ButtonLook {
    const char* objectName;
    const char* accessibleName;  // what a screen reader says
};

const ButtonLook kLooks[DBNavigator::ButtonCount] = {
    {"First", "Primo"}, {"Prior", "Precedente"}, {"Next", "Successivo"},
    {"Last", "Ultimo"}, {"Refresh", "Aggiorna"},
};

}  // namespace

DBNavigator::DBNavigator(const QString& dataSourceName, QWidget* parent)
    : QWidget(parent), BoundControl(dataSourceName, QString()) {
    setFocusPolicy(Qt::NoFocus);
    for (int i = 0; i < ButtonCount; ++i) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(kLooks[i].objectName));
        b->setAccessibleName(QString::fromUtf8(kLooks[i].accessibleName));
        b->setFocusPolicy(Qt::NoFocus);
        b->setToolButtonStyle(Qt::ToolButtonIconOnly);
        connect(b, &QToolButton::clicked, this, [this, i] { click(Button(i)); });
        m_buttons[i] = b;
    }
    m_buttons[First]->setIcon(style()->standardIcon(QStyle::SP_MediaSkipBackward));
    m_buttons[Prior]->setArrowType(Qt::LeftArrow);
    m_buttons[Next]->setArrowType(Qt::RightArrow);
    m_buttons[Last]->setIcon(style()->standardIcon(QStyle::SP_MediaSkipForward));
    m_buttons[Refresh]->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
    updateButtons();
}

void DBNavigator::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int w = width() / ButtonCount;
    for (int i = 0; i < ButtonCount; ++i) {
        // The last button takes what the division leaves over.
        const int bw = i == ButtonCount - 1 ? width() - i * w : w;
        m_buttons[i]->setGeometry(i * w, 0, bw, height());
    }
}

void DBNavigator::click(Button which) {
    DataSet* ds = dataSet();
    if (!ds || !m_buttons[which]->isEnabled())
        return;
    runGuarded([&] {
        switch (which) {
            case First:
                ds->first();
                break;
            case Prior:
                ds->prior();
                break;
            case Next:
                ds->next();
                break;
            case Last:
                ds->last();
                break;
            case Refresh:
                ds->refresh();
                break;
        }
    });
}

void DBNavigator::updateButtons() {
    const DataSet* ds = dataSet();
    const bool active = ds && ds->active();
    m_buttons[First]->setEnabled(active && !ds->bof());
    m_buttons[Prior]->setEnabled(active && !ds->bof());
    m_buttons[Next]->setEnabled(active && !ds->eof());
    m_buttons[Last]->setEnabled(active && !ds->eof());
    m_buttons[Refresh]->setEnabled(active);
}

void DBNavigator::dataEvent(DataEvent, Field*) {
    updateButtons();
}

}  // namespace marvesa
