#include "settingsdialog.h"

#include "passwordwindows.h"
#include "prompt.h"
#include "settings.h"
#include "settingsfiles.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace
{

QGroupBox *frame(QWidget *parent, const char *name, const QString &caption)
{
    auto *g = new QGroupBox(caption, parent);
    g->setObjectName(QLatin1String(name));
    return g;
}

// A number typed in a field, read as the settings files read numbers.
qint16 fieldValue(const QLineEdit *e)
{
    qint16 v = 0;
    settingsfiles::readInt16(e->text().toLatin1(), &v);
    return v;
}

} // namespace

SettingsDialog::SettingsDialog(const Settings &settings, const SettingsFiles &files, Prompt &prompt,
                               QWidget *parent)
    : QDialog(parent), m_settings(settings), m_files(files), m_prompt(prompt),
      m_address(new QLineEdit(this)), m_port(new QLineEdit(this)),
      m_temperature(new QCheckBox(QStringLiteral("Temperatura"), this)),
      m_usb(new QCheckBox(QStringLiteral("Utilizando adaptador USB / RS232"), this))
{
    setObjectName(QStringLiteral("menuportaserial"));
    setWindowTitle(QStringLiteral(" "));

    QGroupBox *types = frame(this, "Frame4", QStringLiteral("Tipo de Painel"));
    auto *typeGrid = new QGridLayout(types);
    for (int k = 1; k <= panelwidth::kCodes; ++k) {
        auto *o = new QRadioButton(panelwidth::caption(k - 1), types);
        o->setObjectName(QStringLiteral("Option%1").arg(k));
        typeGrid->addWidget(o, (k - 1) % 5, (k - 1) / 5);
        m_options.append(o);
    }

    // Address: digits only, two at most; port: 1 to 9, one digit. The
    // validators limit what is typed; a stored value shows whole ("12" as
    // the port of a hand-edited file) rather than cut to the typing limit.
    m_address->setObjectName(QStringLiteral("Text1"));
    m_address->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,2}")), this));
    m_port->setObjectName(QStringLiteral("Text2"));
    m_port->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[1-9]?")), this));
    m_address->installEventFilter(this);
    m_port->installEventFilter(this);
    QGroupBox *addressFrame = frame(this, "Frame2", QStringLiteral("Endereço : "));
    (new QHBoxLayout(addressFrame))->addWidget(m_address);
    QGroupBox *portFrame = frame(this, "Frame1", QStringLiteral("Porta Serial : "));
    (new QHBoxLayout(portFrame))->addWidget(m_port);
    m_temperature->setObjectName(QStringLiteral("Check1"));
    m_usb->setObjectName(QStringLiteral("Check2"));

    QGroupBox *passwordFrame = frame(this, "Frame3", QStringLiteral("Senha : "));
    auto *change = new QPushButton(QStringLiteral("Alterar"), passwordFrame);
    change->setObjectName(QStringLiteral("Command4"));
    change->setAutoDefault(false);
    (new QHBoxLayout(passwordFrame))->addWidget(change);

    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Command2"));
    auto *cancel = new QPushButton(QStringLiteral("Cancelar"), this);
    cancel->setObjectName(QStringLiteral("Command1"));
    // Enter in a field means OK, never "Alterar".
    ok->setDefault(true);
    cancel->setAutoDefault(false);

    auto *side = new QVBoxLayout;
    side->addWidget(addressFrame);
    side->addWidget(portFrame);
    side->addWidget(passwordFrame);
    auto *top = new QHBoxLayout;
    top->addWidget(types, 1);
    top->addLayout(side);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_temperature);
    layout->addWidget(m_usb);
    layout->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, &SettingsDialog::ok);
    connect(cancel, &QPushButton::clicked, this, &QWidget::close);
    connect(change, &QPushButton::clicked, this, &SettingsDialog::changePassword);

    // Load: the fields from the shared settings.
    m_readAddress = QString::number(settings.panelAddress);
    m_readPort = QString::number(settings.portNumber);
    m_address->setText(m_readAddress);
    m_port->setText(m_readPort);
    if (settings.panelType >= 0 && settings.panelType < panelwidth::kCodes)
        m_options[settings.panelType]->setChecked(true);
    m_temperature->setChecked(settings.temperatureOption != 0);
    m_usb->setChecked(settings.usbAdapter != 0);

    // By keyboard, the panel types are one stop, as a radio group is: Tab
    // enters it on the checked type, the arrows check another. The order
    // then follows the layout: left column, right column, the options, OK.
    const auto typesTakeTabOnChecked = [this] {
        bool any = false;
        for (QRadioButton *o : m_options)
            any = any || o->isChecked();
        for (int k = 0; k < m_options.size(); ++k)
            m_options[k]->setFocusPolicy(
                m_options[k]->isChecked() || (!any && k == 0) ? Qt::StrongFocus : Qt::ClickFocus);
    };
    for (QRadioButton *o : m_options)
        connect(o, &QRadioButton::toggled, this, typesTakeTabOnChecked);
    typesTakeTabOnChecked();
    QList<QWidget *> order(m_options.begin(), m_options.end());
    order << m_address << m_port << change << m_temperature << m_usb << ok << cancel;
    for (int i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    centreOnScreen(*this);
}

bool SettingsDialog::addressChanged() const
{
    return m_address->text() != m_readAddress;
}

bool SettingsDialog::portChanged() const
{
    return m_port->text() != m_readPort;
}

void SettingsDialog::leaveAddress()
{
    if (!addressChanged()) return; // a stored value stays as it was read
    const QString t = m_address->text();
    const int v = t.isEmpty() ? 0 : t.toInt();
    if (t.isEmpty() || v < 1 || v > 31) m_address->setText(QStringLiteral("0"));
}

void SettingsDialog::leavePort()
{
    if (m_port->text().isEmpty()) m_port->setText(QStringLiteral("1"));
}

bool SettingsDialog::eventFilter(QObject *watched, QEvent *e)
{
    if (e->type() == QEvent::FocusOut) {
        if (watched == m_address)
            leaveAddress();
        else if (watched == m_port)
            leavePort();
    }
    return QDialog::eventFilter(watched, e);
}

void SettingsDialog::ok()
{
    // "OK" by Enter leaves no field: their rules apply all the same.
    leaveAddress();
    leavePort();
    // Written to the files; the main window reads them when it comes back.
    Settings chosen = m_settings;
    for (int k = 0; k < m_options.size(); ++k) {
        if (m_options[k]->isChecked()) {
            chosen.panelType = qint16(k);
            break;
        }
    }
    chosen.temperatureOption = m_temperature->isChecked() ? 1 : 0;
    chosen.usbAdapter = m_usb->isChecked() ? 1 : 0;
    if (addressChanged()) chosen.panelAddress = fieldValue(m_address);
    if (portChanged()) chosen.portNumber = fieldValue(m_port);
    QString error;
    QStringList errors;
    if (!m_files.saveConfig(chosen, &error)) errors.append(error);
    if (!m_files.saveUsbAdapter(chosen.usbAdapter, &error)) errors.append(error);
    if (!errors.isEmpty())
        m_prompt.warning(QStringLiteral("As configurações não foram gravadas.\n") +
                         errors.join(QLatin1Char('\n')));
    close();
}

void SettingsDialog::changePassword()
{
    ChangePasswordWindow change(m_files, m_prompt, this);
    change.exec();
}

void SettingsDialog::done(int result)
{
    QDialog::done(result);
    if (m_closed) return;
    m_closed = true;
    Q_EMIT closedSettings();
    deleteLater();
}
