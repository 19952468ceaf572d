// Rainbow over a 7,500-character selection, and single key presses with tag
// protection in a 7,500-character message.
#include "benchutil.h"
#include "editcommands.h"
#include "messageedit.h"
#include "tagprotection.h"

#include <QApplication>
#include <QKeyEvent>

namespace
{

void key(MessageEdit &e, int k, const QString &text = {})
{
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier, text);
    QApplication::sendEvent(&e, &press);
    QKeyEvent release(QEvent::KeyRelease, k, Qt::NoModifier, text);
    QApplication::sendEvent(&e, &release);
}

void place(MessageEdit &e, int pos)
{
    QTextCursor c = e.textCursor();
    c.setPosition(pos);
    e.setTextCursor(c);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    MessageEdit edit;
    edit.resize(900, 400);
    edit.show();
    // 7,500 characters: text with a tag every 50.
    while (edit.document()->characterCount() - 1 < 7500 - 50) {
        edit.insertPlainText(QStringLiteral("Promoção de verão em todas as lojas, só hoje!"));
        editcommands::insertTag(edit, QStringLiteral("<Pausa______>"));
    }
    edit.insertPlainText(QString(7500 - (edit.document()->characterCount() - 1), QLatin1Char('x')));
    std::printf("(message of %d characters)\n", edit.document()->characterCount() - 1);

    const double rainbow = medianMs(7, [&] {
        edit.selectAll();
        editcommands::rainbow(edit);
        QApplication::processEvents();
    });
    report("rainbow over a 7500-character selection", rainbow, "ms", "<= 50 ms", rainbow <= 50);

    // Right after a tag in the middle of the message.
    const int afterTag = int(edit.toPlainText().indexOf(QStringLiteral("______>"), 3700)) + 7;
    const double rule = medianMs(1001, [&] {
        volatile bool hit = tagprotection::backspace(edit.tagText(), afterTag).has_value() &&
                            tagprotection::left(edit.tagText(), afterTag).has_value();
        (void)hit;
    });
    report("tag protection rules for one key press", rule * 1000, "us", "<= 1000 us", rule <= 1);
    double worst = 0;
    const auto measure = [&](const char *what, int k, const QString &text, bool undo) {
        const double ms = medianMs(51, [&] {
            place(edit, afterTag);
            key(edit, k, text);
            QApplication::processEvents();
            if (undo) edit.undo();
        });
        std::printf("  %-58s %.3f ms\n", what, ms);
        worst = std::max(worst, ms);
    };
    std::printf("whole key presses, with the text control's relayout and repaint:\n");
    measure("Backspace takes a tag", Qt::Key_Backspace, {}, false);
    edit.undo();
    measure("Left jumps a tag", Qt::Key_Left, {}, false);
    measure("a letter typed (after the rainbow: every character its own format)", Qt::Key_A,
            QStringLiteral("a"), true);
    edit.selectAll();
    editcommands::colour(edit, 0x0000FF);
    measure("a letter typed (one colour)", Qt::Key_A, QStringLiteral("a"), true);
    return 0;
}
