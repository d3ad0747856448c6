#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

// What a user saw in one message box.
struct RecordedBox {
    QMessageBox::Icon icon;
    QString title;
    QString text;
    QString informative;   // what else the page knew: the OS error, the reply, the register
};

// Answers the modal message boxes a page opens, as a user would, and records each one.
// Boxes are found by polling the top-level widgets while the page's own code runs its modal
// loops, so it works for QMessageBox::exec, the static helpers and showMessage alike.
class MessageBoxRecorder : public QObject
{
    Q_OBJECT

public:
    explicit MessageBoxRecorder(QObject *parent = nullptr);

    // Buttons to press, one per box in order; when the queue is empty the box's default (or
    // only) button is pressed, else Ok, else the escape button.
    void queueAnswer(QMessageBox::StandardButton button);
    // Called for every box before it is answered (for example to check its buttons).
    void onBox(std::function<void(QMessageBox *)> inspect);

    const QList<RecordedBox> &boxes() const { return m_boxes; }
    int count() const { return m_boxes.size(); }
    RecordedBox last() const;
    void clear() { m_boxes.clear(); }

    // Processes events until `count` boxes have been recorded or `timeoutMs` has passed.
    bool waitForBoxes(int count, int timeoutMs = 10000);

private:
    void poll();
    void answer(QMessageBox *box);

    QTimer m_timer;
    QList<RecordedBox> m_boxes;
    QList<QMessageBox::StandardButton> m_answers;
    std::function<void(QMessageBox *)> m_inspect;
};
