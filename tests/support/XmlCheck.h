#ifndef ZUMI_TESTS_SUPPORT_XMLCHECK_H
#define ZUMI_TESTS_SUPPORT_XMLCHECK_H

// Reads a document with GLib's XML parser, which refuses what is not
// well-formed (a stray '<' or '&', bytes that are not UTF-8, unbalanced
// elements), plus the rule of XML's characters that it leaves out (no control
// character but tab and line ends, not even escaped), and
// counts its elements by the first word of their class: what a test of zumi
// chart's SVG needs to tell that a viewer will show it, and what it shows.

#include <map>
#include <string>

#include <glib.h>

namespace zumi {
namespace testing {

struct XmlCount {
    std::string error;                  // empty when the document is well-formed
    std::map<std::string, int> classes;  // "op get refused" counts as "op", "get" and "refused"
    std::string text;                   // every text node, joined by newlines
};

inline XmlCount readXml(const std::string& document) {
    XmlCount count;
    for (size_t i = 0; i < document.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(document[i]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            count.error = "control character " + std::to_string(c) + " at byte " + std::to_string(i);
            return count;
        }
    }
    GMarkupParser parser = {};
    parser.start_element = [](GMarkupParseContext*, const gchar*, const gchar** names, const gchar** values,
                              gpointer data, GError**) {
        for (size_t i = 0; names[i] != nullptr; ++i) {
            if (std::string(names[i]) != "class") continue;
            gchar** words = g_strsplit(values[i], " ", -1);
            for (gchar** word = words; *word != nullptr; ++word) {
                if (**word != '\0') ++static_cast<XmlCount*>(data)->classes[*word];
            }
            g_strfreev(words);
        }
    };
    parser.text = [](GMarkupParseContext*, const gchar* text, gsize length, gpointer data, GError**) {
        static_cast<XmlCount*>(data)->text.append(text, length).append("\n");
    };
    GMarkupParseContext* context = g_markup_parse_context_new(&parser, G_MARKUP_TREAT_CDATA_AS_TEXT, &count, nullptr);
    GError* error = nullptr;
    if (!g_markup_parse_context_parse(context, document.data(), static_cast<gssize>(document.size()), &error) ||
        !g_markup_parse_context_end_parse(context, &error)) {
        count.error = error != nullptr ? error->message : "not well-formed";
        g_clear_error(&error);
    }
    g_markup_parse_context_free(context);
    return count;
}

}  // namespace testing
}  // namespace zumi

#endif
