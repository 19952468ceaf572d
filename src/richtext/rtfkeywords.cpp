#include "rtfkeywords.h"

#include <unordered_map>

namespace rtf
{

namespace
{

const std::unordered_map<std::string_view, Kw> &table()
{
    static const std::unordered_map<std::string_view, Kw> table = [] {
        std::unordered_map<std::string_view, Kw> t = {
            {"par", Kw::Par},
            {"line", Kw::Line},
            {"tab", Kw::Tab},
            {"plain", Kw::Plain},
            {"pard", Kw::Pard},
            {"b", Kw::Bold},
            {"ulnone", Kw::UnderlineNone},
            {"fs", Kw::FontSize},
            {"cf", Kw::Colour},
            {"red", Kw::Red},
            {"green", Kw::Green},
            {"blue", Kw::Blue},
            {"u", Kw::Unicode},
            {"uc", Kw::UnicodeSkip},
            {"bin", Kw::Bin},
            {"ql", Kw::AlignLeft},
            {"qr", Kw::AlignRight},
            {"qc", Kw::AlignCenter},
            {"qj", Kw::AlignJustify},
            {"fonttbl", Kw::FontTable},
            {"colortbl", Kw::ColourTable},
            {"emdash", Kw::Emdash},
            {"endash", Kw::Endash},
            {"bullet", Kw::Bullet},
            {"lquote", Kw::LQuote},
            {"rquote", Kw::RQuote},
            {"ldblquote", Kw::LDblQuote},
            {"rdblquote", Kw::RDblQuote},
            {"cell", Kw::Cell},
            {"row", Kw::Row},
        };
        for (const char *w : {"ul", "uld", "uldash", "uldashd", "uldashdd", "uldb", "ulhwave",
                              "ulldash", "ulth", "ulthd", "ulthdash", "ulthdashd", "ulthdashdd",
                              "ulthldash", "ululdbwave", "ulw", "ulwave"})
            t.emplace(w, Kw::Underline);
        // Destinations whose text is not part of the message.
        for (const char *w : {"stylesheet",   "info",       "pict",      "object",
                              "header",       "headerl",    "headerr",   "headerf",
                              "footer",       "footerl",    "footerr",   "footerf",
                              "footnote",     "annotation", "xe",        "tc",
                              "rxe",          "fldinst",    "themedata", "colorschememapping",
                              "latentstyles", "datastore",  "listtable", "listoverridetable",
                              "rsidtbl",      "generator",  "pntext",    "pntxta",
                              "pntxtb",       "filetbl",    "revtbl",    "xmlnstbl",
                              "listtext",     "author",     "operator",  "title",
                              "subject",      "comment",    "doccomm",   "keywords",
                              "company",      "manager",    "category",  "hlinkbase",
                              "nonshppict",   "shppict",    "mmathPr",   "passwordhash"})
            t.emplace(w, Kw::SkipDest);
        return t;
    }();
    return table;
}

} // namespace

std::optional<Kw> keyword(std::string_view word)
{
    const auto &t = table();
    const auto it = t.find(word);
    if (it == t.end()) return std::nullopt;
    return it->second;
}

} // namespace rtf
