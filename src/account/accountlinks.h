#pragma once

#include <QUrl>

// The pages of the service host the account dialogs open in the browser.
namespace accountlinks {

// "/#devices": where the user adds authorised devices or signs others out.
QUrl devicesPageUrl();
// "/uc.html#security": the account's security page (change the password).
QUrl securityPageUrl();
// "/protocol.php?type=user" or, with privacy, "?type=privacy".
QUrl termsPageUrl(bool privacy);

} // namespace accountlinks
