#include "xmloutline.h"

namespace testing_support {

std::string outline(const pugi::xml_node& node) {
    std::string text = node.name();
    if (node.first_attribute()) {
        text += "[";
        for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
            text += std::string(a.previous_attribute() ? "," : "") + a.name() + "=" + a.value();
        text += "]";
    }
    if (node.first_child()) {
        text += "(";
        for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
            text += (c.previous_sibling() ? " " : "") + outline(c);
        text += ")";
    }
    return text;
}

std::string outlineOfFile(const std::string& path) {
    pugi::xml_document doc;
    if (!doc.load_file(path.c_str()))
        return "";
    return outline(doc.document_element());
}

} // namespace testing_support
