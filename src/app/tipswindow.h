#pragma once

#include <QDialog>

class Prompt;
class QCheckBox;
class QPushButton;
class QTextEdit;
class SettingsFiles;
struct Settings;

// "Dicas" (frmdica): the tips one at a time. Closing stores the check box
// in line 3 of "cobalto.cfg".
class TipsWindow : public QDialog
{
    Q_OBJECT
public:
    TipsWindow(const Settings &settings, const SettingsFiles &files, Prompt &prompt,
               QWidget *parent = nullptr);

    QPushButton *previousButton() const { return m_previous; }
    QPushButton *nextButton() const { return m_next; }
    QCheckBox *hideBox() const { return m_hide; }
    bool hidesTips() const;
    QString tipShown() const;
    void next();
    void previous();
    void done(int result) override;

private:
    const QString &tip(int index) const;

    const Settings &m_settings;
    int m_index = 1; // the tip shown
    const SettingsFiles &m_files;
    Prompt &m_prompt;
    QTextEdit *m_text;
    QPushButton *m_previous;
    QPushButton *m_next;
    QCheckBox *m_hide;
};
