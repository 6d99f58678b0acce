#include "platform/Controls.h"

#include <QComboBox>
#include <QVariant>

namespace platform::controls
{

int tag(const QObject *control)
{
    return control ? control->property("tag").toInt() : 0;
}

void setTag(QObject *control, int tag)
{
    if (control)
        control->setProperty("tag", tag);
}

int selectedTag(const QComboBox *popUp)
{
    if (!popUp || popUp->currentIndex() < 0)
        return -1;
    return popUp->currentData().toInt();
}

bool selectItemWithTag(QComboBox *popUp, int tag)
{
    if (!popUp)
        return false;
    const int index = popUp->findData(tag);
    if (index < 0)
        return false;
    // currentIndexChanged fires, activated (the user's gesture) does not.
    popUp->setCurrentIndex(index);
    return true;
}

} // namespace platform::controls
