#pragma once

#include <QWidget>

class MessageEdit;
class Prompt;
class QPrinter;

// An editor window ("frmDocument"): one message, its file and whether it has
// changes that are not saved. A window counts as changed exactly when its
// content or formatting changed since it was created, opened or last saved.
class DocumentWindow : public QWidget
{
    Q_OBJECT
public:
    static const QString kSaveTitle;
    static const QString kSaveFilter;
    static const QString kSaveAsTitle;
    static const QString kSaveAsFilter;
    static const QString kOpenTitle;
    static const QString kOpenFilter;

    DocumentWindow(Prompt &prompt, const QString &caption, QWidget *parent = nullptr);

    MessageEdit *editor() const { return m_edit; }
    // "Documento 1" or the file's name, without the mark of a change.
    QString caption() const { return m_caption; }
    // The file's full path; empty for a message never saved.
    QString filePath() const { return m_path; }
    // A message that was never opened or saved has no file yet, whatever
    // its caption says ("Documento final.msg" is a file).
    bool isUntitled() const { return m_path.isEmpty(); }
    bool saved() const;

    // Loads a message file; on failure tells the operator why and keeps
    // the window as it was.
    bool load(const QString &path);
    // "&Salvar": to the window's file, or through the save dialog.
    bool save();
    // "Salvar &Como": always through the dialog.
    bool saveAs();
    bool saveTo(const QString &path);
    void print(QPrinter &printer, bool selectionOnly) const;

Q_SIGNALS:
    // A file was opened into the window or saved from it.
    void fileUsed(const QString &path);

protected:
    void closeEvent(QCloseEvent *e) override;

private:
    void setFile(const QString &path);
    void setCaption(const QString &caption);
    // Where the save dialogs start: the file, or the caption as a name in
    // the folder last used.
    QString offeredPath() const;

    Prompt &m_prompt;
    MessageEdit *m_edit;
    QString m_path;
    QString m_caption;
};
