#pragma once

#include <QDialog>

class Prompt;
class QCheckBox;
class QPushButton;
class QTextEdit;
class SettingsFiles;
struct SharedSettings;

// "Dicas" (frmdica): the tips one at a time. Closing stores the check box
// in line 3 of "cobalto.cfg".
class TipsWindow : public QDialog
{
    Q_OBJECT
public:
    TipsWindow(SharedSettings &settings, const SettingsFiles &files, Prompt &prompt,
               QWidget *parent = nullptr);

    QPushButton *previousButton() const { return m_previous; }
    QPushButton *nextButton() const { return m_next; }
    QCheckBox *hideBox() const { return m_hide; }
    QString tipShown() const;
    void next();
    void previous();
    void done(int result) override;

private:
    const QString &tip(int index) const;

    SharedSettings &m_settings;
    const SettingsFiles &m_files;
    Prompt &m_prompt;
    QTextEdit *m_text;
    QPushButton *m_previous;
    QPushButton *m_next;
    QCheckBox *m_hide;
};
