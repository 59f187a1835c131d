// Gives the localization library the product's settings: the catalogues from the resource
// "localization" (RT_RCDATA) and the per-user language file. Throws what the library's Init
// throws.
#pragma once

void InitLocalization();
