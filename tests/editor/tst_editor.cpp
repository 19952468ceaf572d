#include "documentwindow.h"
#include "edithelpers.h"
#include "menubar.h"
#include "scriptedprompt.h"
#include "testfiles.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QMenuBar>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace
{

constexpr ColourRef kRedRef = rgbColour(255, 0, 0);
const QString kPisca = QStringLiteral("<Pisca______>");

} // namespace

class TestEditor : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<MessageEdit> m_edit;
    MessageEdit &edit() { return *m_edit; }

private Q_SLOTS:
    void init()
    {
        m_edit = std::make_unique<MessageEdit>();
        m_edit->resize(900, 200);
        m_edit->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_edit.get()));
    }
    void cleanup() { m_edit.reset(); }

    void insertionIntoAnEmptyDocument()
    {
        editcommands::insertTag(edit(), kPausa);
        const RichText t = edit().richText();
        QCOMPARE(t.plainText(), kPausa);
        QVERIFY(isTag(t, 0));
        QCOMPARE(t.at(0).format.colour, kRedRef); // a new window types in red
        QCOMPARE(t.at(12).format.colour, kRedRef);
        QCOMPARE(edit().textCursor().position(), 13);
        type(edit(), "x");
        QVERIFY(!edit().richText().at(13).format.underline);
    }

    void insertionReplacesTheSelection()
    {
        type(edit(), "abcdef");
        select(edit(), 2, 4);
        editcommands::insertTag(edit(), kPausa);
        QCOMPARE(edit().richText().plainText(), "ab" + kPausa + "ef");
        QCOMPARE(edit().textCursor().position(), 15);
        QVERIFY(isTag(edit().richText(), 2));
        editcommands::insertTag(edit(), QString()); // an index outside the menu
        QCOMPARE(edit().richText().plainText(), "ab" + kPausa + "ef");
    }

    void keysKeepTagsWhole()
    {
        fill(edit(), "ab", kPausa, "cd"); // tag at 2..14
        setCaret(edit(), 15);
        QTest::keyClick(&edit(), Qt::Key_Left);
        QCOMPARE(edit().textCursor().position(), 2);
        QTest::keyClick(&edit(), Qt::Key_Right);
        QCOMPARE(edit().textCursor().position(), 15);
        QTest::keyClick(&edit(), Qt::Key_Backspace);
        QCOMPARE(edit().richText().plainText(), QString("abcd"));
        edit().undo();
        QCOMPARE(edit().richText().plainText(), "ab" + kPausa + "cd");
        setCaret(edit(), 2);
        QTest::keyClick(&edit(), Qt::Key_Delete);
        QCOMPARE(edit().richText().plainText(), QString("abcd"));
        // Enter and Tab change nothing.
        for (Qt::Key k : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Tab})
            QTest::keyClick(&edit(), k);
        QTest::keyClick(&edit(), Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(edit().richText().plainText(), QString("abcd"));
        // Delete before a tag that ends the text takes it whole too.
        edit().clear();
        fill(edit(), "ab", kPausa, "");
        setCaret(edit(), 2);
        QTest::keyClick(&edit(), Qt::Key_Delete);
        QCOMPARE(edit().richText().plainText(), QString("ab"));
    }

    void typedTagShapesAreNotProtected()
    {
        type(edit(), "x" + kPausa);
        QTest::keyClick(&edit(), Qt::Key_Backspace);
        QCOMPARE(edit().richText().plainText(), "x" + kPausa.chopped(1));
        QTest::keyClick(&edit(), Qt::Key_Home);
        QTest::keyClick(&edit(), Qt::Key_Right);
        QTest::keyClick(&edit(), Qt::Key_Right);
        QCOMPARE(edit().textCursor().position(), 2);
    }

    void theMouseNeverLeavesTheCaretInATag()
    {
        fill(edit(), "a", kPausa, "b");
        fill(edit(), "", kPisca, "c"); // tags at 1..13 and 15..27
        for (int p : {4, 9, 13}) {
            QTest::mouseClick(edit().viewport(), Qt::LeftButton, {}, pointAt(edit(), p));
            QCOMPARE(edit().textCursor().position(), 14);
        }
        // Dragging from inside one name to inside the other.
        QTest::mousePress(edit().viewport(), Qt::LeftButton, {}, pointAt(edit(), 5));
        QTest::mouseMove(edit().viewport(), pointAt(edit(), 20));
        QTest::mouseRelease(edit().viewport(), Qt::LeftButton, {}, pointAt(edit(), 20));
        QCOMPARE(edit().textCursor().selectionStart(), 14);
        QCOMPARE(edit().textCursor().selectionEnd(), 15);
        // Shift+arrows: the selection takes a tag whole or not at all.
        setCaret(edit(), 0);
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(&edit(), Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyRelease(&edit(), Qt::Key_Shift);
        QCOMPARE(edit().textCursor().selectionEnd() - edit().textCursor().selectionStart(), 15);
        // A press never released here settles as a click before a key acts.
        QTest::mousePress(edit().viewport(), Qt::LeftButton, {}, pointAt(edit(), 18));
        QTest::keyClick(&edit(), Qt::Key_X);
        QVERIFY(isTag(edit().richText(), 15, kPisca));
        QCOMPARE(edit().richText().plainText().mid(28, 2), QString("xc"));
        // A double click takes a word, as in any editor.
        edit().clear();
        edit().insertPlainText("uma palavra");
        QTest::mouseDClick(edit().viewport(), Qt::LeftButton, {}, pointAt(edit(), 6));
        QCOMPARE(edit().textCursor().selectedText(), QString("palavra"));
    }

    void coloursAndRainbowPassOverTags()
    {
        fill(edit(), "AB", kPausa, "C");
        select(edit(), 0, 16);
        editcommands::rainbow(edit());
        RichText t = edit().richText();
        const ColourRef green = rgbColour(0, 255, 0), red = rgbColour(255, 0, 0),
                        orange = rgbColour(255, 255, 0);
        for (const auto &[at, colour] :
             {std::pair{0, green}, {1, red}, {2, orange}, {14, green}, {15, red}})
            QCOMPARE(t.at(at).format.colour, colour);
        QVERIFY(isTag(t, 2));
        QCOMPARE(edit().textCursor().selectionStart(), 0); // the selection stays
        QCOMPARE(edit().textCursor().selectionEnd(), 16);
        editcommands::colour(edit(), green);
        t = edit().richText();
        QCOMPARE(t.at(15).format.colour, green);
        QCOMPARE(t.at(5).format.colour, kGrey);
        // Without a selection the colour is for what is typed next.
        setCaret(edit(), 16);
        editcommands::colour(edit(), red);
        QCOMPARE(edit().richText().at(15).format.colour, green);
        type(edit(), "z");
        QCOMPARE(edit().richText().at(16).format.colour, red);
        // Each command is a step of its own: undo takes back the z alone.
        edit().undo();
        QCOMPARE(edit().toPlainText().size(), 16);
        QCOMPARE(edit().richText().at(15).format.colour, green);
        // The rainbow without a selection starts what is typed next in green.
        editcommands::colour(edit(), red);
        type(edit(), "r");
        editcommands::rainbow(edit());
        type(edit(), "y");
        QCOMPARE(edit().richText().at(17).format.colour, green);
    }

    void expandedMakesTagsBoldToo()
    {
        fill(edit(), "a", kPausa, "");
        select(edit(), 0, 14);
        editcommands::setExpanded(edit(), true);
        const RichText t = edit().richText();
        for (const RichChar &c : t.chars())
            QVERIFY(c.format.bold);
        // From another program, semibold is expanded too; medium is not.
        edit().clear();
        edit().textCursor().insertHtml("<span style='font-weight:600'>a</span>"
                                       "<span style='font-weight:500'>b</span>");
        QVERIFY(edit().richText().at(0).format.bold && !edit().richText().at(1).format.bold);
    }

    void copyAndPasteCarryTags()
    {
        fill(edit(), "a", kPausa, "b");
        select(edit(), 0, 15);
        QClipboard *clipboard = QApplication::clipboard();
        editcommands::copy(edit(), *clipboard);
        QVERIFY(clipboard->text().startsWith("{\\rtf1"));
        MessageEdit other;
        other.show();
        type(other, "X");
        editcommands::paste(other, *clipboard);
        QCOMPARE(other.richText().plainText(), "Xa" + kPausa + "b");
        QVERIFY(isTag(other.richText(), 2));
        // Ctrl+C and Ctrl+V take the same road.
        select(edit(), 1, 14);
        QTest::keyClick(&edit(), Qt::Key_C, Qt::ControlModifier);
        setCaret(other, 0);
        QTest::keyClick(&other, Qt::Key_V, Qt::ControlModifier);
        QVERIFY(isTag(other.richText(), 0));

        // Text from other programs comes in plain: a tag shape is no tag.
        clipboard->setText(kPisca);
        setCaret(edit(), 0);
        QTest::keyClick(&edit(), Qt::Key_V, Qt::ControlModifier);
        const RichText t = edit().richText();
        QCOMPARE(t.plainText().left(13), kPisca);
        for (int i = 0; i < 13; ++i)
            QVERIFY(!t.at(i).format.underline);
        // An empty clipboard deletes the selection.
        clipboard->clear();
        select(edit(), 0, 13);
        editcommands::paste(edit(), *clipboard);
        QCOMPARE(edit().richText().plainText(), "a" + kPausa + "b");
    }
};

class TestDocumentWindow : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    ScriptedPrompt m_prompt;

    RichText sample()
    {
        MessageEdit e;
        fill(e, "Olá ", kPausa, "fim");
        select(e, 0, 3);
        editcommands::setExpanded(e, true);
        editcommands::colour(e, rgbColour(0, 255, 0));
        return e.richText();
    }

private Q_SLOTS:
    void init() { m_prompt = ScriptedPrompt(); }

    // Each command's keys, shown beside it in its menu.
    void theMenusKeys()
    {
        QMenuBar bar;
        const MenuBarActions m = buildMenuBar(&bar);
        QCOMPARE(m.mnunovo->shortcut(), QKeySequence(QKeySequence::New));
        QCOMPARE(m.mnuabre->shortcut(), QKeySequence(QKeySequence::Open));
        QCOMPARE(m.mnusalva->shortcut(), QKeySequence(QKeySequence::Save));
        QCOMPARE(m.mnuimp->shortcut(), QKeySequence(QKeySequence::Print));
        QCOMPARE(m.mnudesfazer->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Z));
        QCOMPARE(m.mnurefazer->shortcuts(),
                 QList<QKeySequence>({QKeySequence(Qt::CTRL | Qt::Key_Y),
                                      QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)}));
    }

    void saveReopenAndCompare()
    {
        DocumentWindow doc(m_prompt, "Documento 3");
        doc.editor()->setRichText(sample());
        type(*doc.editor(), "!");
        QVERIFY(!doc.saved());
        const QString path = m_dir.filePath("oferta.msg");
        m_prompt.files.enqueue(path);
        QVERIFY(doc.save());
        QCOMPARE(m_prompt.dialogs, QStringList{"Salvar|Arquivo de Mensagem(*.msg)|*.msg"});
        QCOMPARE(doc.caption(), QString("oferta.msg"));
        QCOMPARE(doc.filePath(), path);
        QVERIFY(doc.saved());
        // A second save writes to the same file without asking.
        type(*doc.editor(), "?");
        QVERIFY(doc.save());
        QCOMPARE(m_prompt.dialogs.size(), 1);

        DocumentWindow again(m_prompt, "Documento 4");
        QVERIFY(again.load(path));
        QVERIFY(again.saved());
        QCOMPARE(again.caption(), QString("oferta.msg"));
        const RichText a = doc.editor()->richText(), b = again.editor()->richText();
        QVERIFY(a == b);
        QVERIFY(isTag(b, int(b.plainText().indexOf(QLatin1Char('<')))));
        QVERIFY(b.at(0).format.bold);
    }

    void everyChangeCounts()
    {
        DocumentWindow doc(m_prompt, "Documento 1");
        QVERIFY(doc.saved());
        QTest::keyClick(doc.editor(), Qt::Key_A, Qt::ShiftModifier);
        QVERIFY(!doc.saved());
        doc.editor()->document()->setModified(false);
        doc.editor()->selectAll();
        editcommands::setExpanded(*doc.editor(), true);
        QVERIFY(!doc.saved());
    }

    void closingAsksOnlyAboutChanges()
    {
        DocumentWindow doc(m_prompt, "Documento 1");
        doc.setAttribute(Qt::WA_DeleteOnClose, false);
        doc.show();
        QVERIFY(doc.close());
        QVERIFY(m_prompt.questions.isEmpty());

        type(*doc.editor(), "x");
        doc.show();
        m_prompt.answers.enqueue(Prompt::Answer::Cancel);
        QVERIFY(!doc.close());
        QCOMPARE(m_prompt.questions.last(),
                 QString("Deseja salvar as alterações feitas ao arquivo Documento 1 ?"));
        // Yes, then a cancelled save dialog: the message is kept.
        m_prompt.answers.enqueue(Prompt::Answer::Yes);
        QVERIFY(!doc.close());
        QVERIFY(doc.isVisible());
        // Yes, and a save that fails: a message, and still changed.
        m_prompt.answers.enqueue(Prompt::Answer::Yes);
        m_prompt.files.enqueue("/nonexistent-letreiro/x.msg");
        QVERIFY(!doc.close());
        QCOMPARE(m_prompt.messages.last().left(40),
                 QString("Não foi possível salvar o arquivo x.msg."));
        QVERIFY(!doc.saved());
        // Yes and a good file: saved and closed.
        m_prompt.answers.enqueue(Prompt::Answer::Yes);
        m_prompt.files.enqueue(m_dir.filePath("fechado.msg"));
        QVERIFY(doc.close());
        QVERIFY(QFile::exists(m_dir.filePath("fechado.msg")));
        // No: closed without saving.
        type(*doc.editor(), "y");
        doc.show();
        m_prompt.answers.enqueue(Prompt::Answer::No);
        QVERIFY(doc.close());
    }

    void aFileThatIsNotAMessage()
    {
        const QString path = m_dir.filePath("ruim.msg");
        writeFile(path, "não é RTF");
        DocumentWindow doc(m_prompt, "Documento 7");
        QVERIFY(!doc.load(path));
        QVERIFY(m_prompt.messages.last().startsWith("Arquivo de mensagem inválido: "));
        QCOMPARE(doc.caption(), QString("Documento 7"));
    }

    void printsToPdf()
    {
        DocumentWindow doc(m_prompt, "Documento 1");
        doc.editor()->setRichText(sample());
        for (bool selection : {false, true}) {
            const QString pdf = m_dir.filePath(selection ? "parte.pdf" : "tudo.pdf");
            QPrinter printer;
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            if (selection) select(*doc.editor(), 0, 3);
            doc.print(printer, selection);
            QVERIFY(contents(pdf).startsWith("%PDF-"));
        }
    }

    // The real boxes say their text under the program's name and give back the button pressed.
    void theDialogsAnswerAsPressed()
    {
        DialogPrompt prompt(nullptr);
        QStringList seen;
        QMessageBox::StandardButton press = QMessageBox::Ok;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                seen << box->windowTitle() + ": " + box->text();
                box->button(press)->click();
            }
        });
        watch.start(10);
        prompt.warning("cuidado");
        prompt.message("feito");
        press = QMessageBox::Yes;
        QVERIFY(prompt.confirm("certo?") && prompt.question("salvar?") == Prompt::Answer::Yes);
        press = QMessageBox::No;
        QVERIFY(!prompt.confirm("certo?") && prompt.question("salvar?") == Prompt::Answer::No);
        press = QMessageBox::Cancel;
        QCOMPARE(prompt.question("salvar?"), Prompt::Answer::Cancel);
        QCOMPARE(seen.join('|'), QString("Letreiro: cuidado|Letreiro: feito") +
                                     QString("|Letreiro: certo?|Letreiro: salvar?").repeated(2) +
                                     "|Letreiro: salvar?");
        QCOMPARE(DialogPrompt::qtFilter("Mensagens|*.msg"), QString("Mensagens (*.msg)"));
        QCOMPARE(DialogPrompt::qtFilter("Mensagens (*.msg)|*.msg"), QString("Mensagens (*.msg)"));
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    TestEditor editor;
    TestDocumentWindow documents;
    const int status = QTest::qExec(&editor, argc, argv);
    return status | QTest::qExec(&documents, argc, argv);
}
#include "tst_editor.moc"
