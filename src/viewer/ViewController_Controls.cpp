#include "viewer/ViewController.h"

#include "control/CommandUrl.h"
#include "control/RequestManager.h"
#include "platform/Controls.h"
#include "platform/Log.h"
#include "viewer/UserTexts.h"

// The camera settings in the window. Each gesture becomes one or two commands
// to the box; the box's answers are not looked at, so the controls show what
// the user set, whether or not the box took it.

namespace
{
using CommandUrl::ControlId;

QString parameter(ControlId id, const QString &value)
{
    return CommandUrl::parameterString(id, value);
}

void ignoreSuccess(bool) {}
} // namespace

void ViewController::setManualFocus()
{
    RequestManager::sharedManager().setFocusStyle(QStringLiteral("0"), ignoreSuccess);
}

void ViewController::setParameterWithUrl(const QString &parameter)
{
    // A parameter string, not a whole URL: the client puts the command base
    // in front of it.
    RequestManager::sharedManager().setParameterWithIdValue(parameter, ignoreSuccess);
}

void ViewController::setParameterStateWithBtn(QPushButton *btn, QSlider *slider)
{
    if (!btn)
        return;
    if (!btn->isChecked()) {
        // Automatic: the slider rests at its minimum. setValue() is not a
        // user gesture, so it sends nothing.
        if (slider)
            slider->setValue(slider->minimum());
        btn->setText(usertexts::automatic());
    } else {
        btn->setText(usertexts::manual());
    }
}

void ViewController::clickWhiteBalanceBtn(QPushButton *sender)
{
    if (!sender)
        return;
    setParameterStateWithBtn(sender, m_outlets.whiteBalanceSlider);
    // Manual (on) switches the box's automatic white balance off.
    setParameterWithUrl(
        parameter(ControlId::AutoWhiteBalance, QLatin1String(sender->isChecked() ? "0" : "1")));
}

void ViewController::sliderWhiteBalance(QSlider *sender)
{
    if (!sender)
        return;
    platform::log(QString::number(sender->value()));
    setParameterWithUrl(parameter(ControlId::AutoWhiteBalance, QStringLiteral("0")));
    if (m_outlets.whiteBalanceBtn) {
        m_outlets.whiteBalanceBtn->setText(usertexts::manual());
        m_outlets.whiteBalanceBtn->setChecked(true);
    }
    setParameterWithUrl(
        parameter(ControlId::WhiteBalanceTemperature, QString::number(sender->value())));
}

void ViewController::clickExposureBtn(QPushButton *sender)
{
    if (!sender)
        return;
    setParameterStateWithBtn(sender, m_outlets.exposureSlider);
    // "1" is manual exposure, "3" automatic exposure time.
    setParameterWithUrl(
        parameter(ControlId::ExposureAuto, QLatin1String(sender->isChecked() ? "1" : "3")));
}

void ViewController::sliderExposure(QSlider *sender)
{
    if (!sender)
        return;
    platform::log(QString::number(sender->value()));
    setParameterWithUrl(parameter(ControlId::ExposureAuto, QStringLiteral("1")));
    if (m_outlets.exposureBtn) {
        m_outlets.exposureBtn->setText(usertexts::manual());
        m_outlets.exposureBtn->setChecked(true);
    }
    setParameterWithUrl(parameter(ControlId::ExposureAbsolute, QString::number(sender->value())));
}

void ViewController::clickResolutionPopBtn(QComboBox *sender)
{
    if (!sender)
        return;
    const int tag = platform::controls::selectedTag(sender);
    if (tag < 0)
        return; // nothing chosen: no size to ask for
    platform::log(QStringLiteral("%1---tag:%2").arg(sender->currentText()).arg(tag));
    // The pop-up stays as the user left it; the frame handler moves it to the
    // size of the frames that actually arrive.
    RequestManager::sharedManager().getApi(CommandUrl::resolutionCommand(tag), {},
                                           [](const QJsonValue &, const QString &) {});
}
