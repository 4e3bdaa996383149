// A compact text form of an XML element tree, for comparing whole documents in tests.
#pragma once

#include <pugixml.hpp>

#include <string>

namespace testing_support {

// name[attr=value,...](child child ...); attributes in document order.
std::string outline(const pugi::xml_node& node);
// Outline of the single child of the document element of an XML file; "" when unreadable.
std::string outlineOfFile(const std::string& path);

} // namespace testing_support
