#include "tests/support/message_box_recorder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QPushButton>

MessageBoxRecorder::MessageBoxRecorder(QObject *parent) : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &MessageBoxRecorder::poll);
    m_timer.start(5);
}

void MessageBoxRecorder::queueAnswer(QMessageBox::StandardButton button)
{
    m_answers.append(button);
}

void MessageBoxRecorder::onBox(std::function<void(QMessageBox *)> inspect)
{
    m_inspect = std::move(inspect);
}

RecordedBox MessageBoxRecorder::last() const
{
    return m_boxes.isEmpty() ? RecordedBox{QMessageBox::NoIcon, QString(), QString(), QString()}
                             : m_boxes.last();
}

bool MessageBoxRecorder::waitForBoxes(int count, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (m_boxes.size() < count && clock.elapsed() < timeoutMs)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    return m_boxes.size() >= count;
}

void MessageBoxRecorder::poll()
{
    const auto widgets = QApplication::topLevelWidgets();
    for (QWidget *widget : widgets) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (box && box->isVisible() && !box->property("tarnlowAnswered").toBool()) {
            box->setProperty("tarnlowAnswered", true);
            answer(box);
        }
    }
}

void MessageBoxRecorder::answer(QMessageBox *box)
{
    m_boxes.append({box->icon(), box->windowTitle(), box->text(), box->informativeText()});
    if (m_inspect)
        m_inspect(box);
    QAbstractButton *button = nullptr;
    if (!m_answers.isEmpty())
        button = box->button(m_answers.takeFirst());
    if (!button)
        button = box->defaultButton();
    if (!button)
        button = box->button(QMessageBox::Ok);
    if (!button)
        button = box->escapeButton();
    if (!button && !box->buttons().isEmpty())
        button = box->buttons().first();
    QPointer<QMessageBox> guard(box);
    if (button)
        button->click();
    else if (guard)
        box->reject();
}
