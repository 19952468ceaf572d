#pragma once

#include <QDialog>
#include <QVector>

class Prompt;
class QCheckBox;
class QLineEdit;
class QRadioButton;
class SettingsFiles;
struct Settings;

// The panel settings (menuportaserial): panel type, address, port, the
// temperature and USB adapter options, and the password change. "OK" writes
// "cobalto.cfg" and "usb232.dat"; however it closes, the main window then
// loads again with what the files hold.
class SettingsDialog : public QDialog
{
    Q_OBJECT
public:
    SettingsDialog(const Settings &settings, const SettingsFiles &files, Prompt &prompt,
                   QWidget *parent = nullptr);

    QLineEdit *addressField() const { return m_address; }
    QLineEdit *portField() const { return m_port; }
    QRadioButton *option(int k) const { return m_options.value(k - 1); } // 1 to 9
    QCheckBox *temperature() const { return m_temperature; }
    QCheckBox *usbAdapter() const { return m_usb; }

    void ok();
    void changePassword();
    // The field rules when a field is left.
    void leaveAddress();
    void leavePort();
    // Every way out (OK, "Cancelar", the close box, Escape) comes here.
    void done(int result) override;

Q_SIGNALS:
    // Emitted once, whichever way the dialog closed.
    void closedSettings();

protected:
    bool eventFilter(QObject *watched, QEvent *e) override;

private:
    const Settings &m_settings;
    const SettingsFiles &m_files;
    Prompt &m_prompt;
    QVector<QRadioButton *> m_options;
    QLineEdit *m_address;
    QLineEdit *m_port;
    QCheckBox *m_temperature;
    QCheckBox *m_usb;
    // Only fields the operator changed go through the field rules; a value
    // as it was read (a hand-edited port 12) is kept.
    QString m_readAddress, m_readPort;
    bool addressChanged() const;
    bool portChanged() const;
    bool m_closed = false;
};
