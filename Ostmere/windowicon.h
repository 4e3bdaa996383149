// The program's icon, drawn from its SVG at the sizes window managers ask for; rendered here
// so that it does not depend on an image plugin being installed.
#pragma once

#include <QIcon>

QIcon ostmereIcon();
