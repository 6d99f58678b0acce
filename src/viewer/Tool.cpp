#include "viewer/Tool.h"

#include "platform/Alerts.h"
#include "platform/WifiName.h"
#include "viewer/UserTexts.h"

std::optional<QString> Tool::getSSID(platform::WifiName &wifiName)
{
    return wifiName.currentNetworkName();
}

bool Tool::getTelescopeConnectionStatus(platform::WifiName &wifiName)
{
    const std::optional<QString> ssid = getSSID(wifiName);
    return ssid && ssid->startsWith(kTelescopeNetworkPrefix, Qt::CaseSensitive);
}

void Tool::tipsAlertWithTips(platform::Alerts &alerts, const QString &tips,
                             std::function<void(int response)> completionHandler)
{
    static_assert(kTipsAlertOK == platform::Alerts::kFirstButtonResponse);
    if (!completionHandler)
        completionHandler = [](int) {};
    alerts.show({usertexts::tipsTitle(), tips, {usertexts::ok()}}, std::move(completionHandler));
}
