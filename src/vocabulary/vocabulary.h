#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// The panel's vocabulary, written once: every effect tag with its panel
// code, its menu and what the simulation plays for it, and the panel types
// with their widths. The encoder, the editor's menus, the simulation, the
// CLI and the service all read it from here.
namespace vocabulary
{

constexpr int kTagLength = 13; // "<", an eleven-character name, ">"
constexpr int kNameLength = 11;

// The menu an effect is inserted from.
enum class Menu {
    Prefixos, // "&Prefixos"
    Sufixos,  // "&Sufixos"
    Outros,   // "&Outros"
    Sufixo,   // "&Sufixo" (hidden)
    Rolagem,  // the submenus of "&Prefixo" (hidden): line variants
    RodaCima,
    Neve,
    VarreOnda,
    Mostra,
    Display,
};

// What the simulation does when it reads the tag.
enum class Play { None, Speed, Pause, Blink, Chunk, Display, Hold, Clock, Date, Temperature };

// On which panels a menu item shows.
enum Shown : unsigned {
    Never = 0,
    OnNarrow = 1,
    OnWide = 2,
    Everywhere = OnNarrow | OnWide,
    WithoutSensor = 4, // hidden when the panels have a temperature sensor
    WithSensor = 8,    // shown only then
};

struct Tag {
    Menu menu;
    QString caption; // "&" marks the accelerator
    QString name;    // the eleven characters between "<" and ">"
    int code;        // the byte the panel reads, or -1 for none
    bool prefix;     // a prefix effect: the encoder counts the characters after it
    Play play;
    int stepMs; // a speed's step delay
    unsigned shown;

    QString text() const { return u'<' + name + u'>'; }
    bool showsOn(bool widePanel, bool temperatureSensor) const;
};

// Every menu item, menu by menu, in menu order (a tag can sit in two menus).
const QVector<Tag> &tags();
// The items of one menu, in order.
QVector<Tag> menu(Menu which);
// The first tag of that name, or nullptr.
const Tag *find(QStringView name);
// The byte of a tag name for the encoder (its hot path: no allocation).
struct PanelCode {
    quint8 byte;
    bool prefix;
};
std::optional<PanelCode> panelCode(QByteArrayView latin1Name);
// The first tag with that panel code, or nullptr.
const Tag *withCode(int code);
// Every distinct tag, as "<name>", in menu order (52).
QStringList allTags();

struct PanelType {
    int characters;   // 0: more than 30
    int encoderWidth; // the characters the encoder counts after a prefix; 0: no count
    const char *caption;
    bool wide;      // 30 and more: another set of effects in the menus
    bool simulated; // the simulation window can show it
};
constexpr int kPanelTypes = 9;
// The type of a settings code (0..8), or nullptr.
const PanelType *panelType(int code);

} // namespace vocabulary
