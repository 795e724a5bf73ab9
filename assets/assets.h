// The program's resource bundle: every picture under ":/fixed/assets/",
// ":/icons/assets/" and ":/interactable/assets/" (asset_list.h) and the
// Roboto fonts under ":/fonts/". The bundle lives in the static library
// parlune_assets, whose resource name is parlune_assets: a program may also
// call Q_INIT_RESOURCE(parlune_assets) itself, outside any namespace.
//
// Thread contract: GUI thread only, after the QGuiApplication (or
// QApplication) exists, since the fonts go into the application's font
// database.
#pragma once

namespace parlune::assets {

// Registers the bundle, adds the embedded fonts to the font database and
// makes the form's other families (kFallbackFamilies) fall back to Roboto.
// Safe to call more than once; the fonts are added on the first call only.
// Returns true when every embedded font gave the family "Roboto".
bool registerResources();

}  // namespace parlune::assets
