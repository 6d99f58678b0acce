#include "viewer/ViewController.h"

#include "platform/Log.h"

void ViewController::disconnection()
{
    platform::log(QStringLiteral("中断"));
}
