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
    QString caption() const { return windowTitle(); }
    // The file's full path; empty for a message never saved.
    QString filePath() const { return m_path; }
    // A window named "Documento ..." has no file yet.
    bool isUntitled() const;
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

protected:
    void closeEvent(QCloseEvent *e) override;

private:
    void setFile(const QString &path);

    Prompt &m_prompt;
    MessageEdit *m_edit;
    QString m_path;
};
