#pragma once

#include <QDialog>

class Prompt;
class QLineEdit;
class SettingsFiles;
struct Settings;

// "Senha de Acesso." (frmsenha): the password that guards the panel
// settings. The stored password or the fixed master password opens them.
class PasswordWindow : public QDialog
{
    Q_OBJECT
public:
    static const QString kMasterPassword;

    PasswordWindow(const Settings &settings, Prompt &prompt, QWidget *parent = nullptr);
    QLineEdit *field() const { return m_text; }
    // "Ok", and Enter in the field.
    void check();
    // Every way out but the right password ("Cancelar", the close box,
    // Escape) is a cancel: the main window comes back.
    void done(int result) override;

Q_SIGNALS:
    void granted();
    void cancelled();

private:
    const Settings &m_settings;
    Prompt &m_prompt;
    QLineEdit *m_text;
    bool m_done = false;
};

// "Alterar Senha." (frmaltsenha): a new password typed twice.
class ChangePasswordWindow : public QDialog
{
    Q_OBJECT
public:
    ChangePasswordWindow(const SettingsFiles &files, Prompt &prompt, QWidget *parent = nullptr);
    QLineEdit *first() const { return m_first; }
    QLineEdit *second() const { return m_second; }
    void ok();

private:
    const SettingsFiles &m_files;
    Prompt &m_prompt;
    QLineEdit *m_first;
    QLineEdit *m_second;
};

// Centres a window on the screen, as the settings windows always were.
void centreOnScreen(QWidget &w);
