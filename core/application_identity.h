#pragma once

// The names under which the settings store of every page is addressed.
namespace ApplicationIdentity {
constexpr const char *organisationName = "Osmerin";
constexpr const char *organisationDomain = "osmerin.example";
constexpr const char *applicationName = "Tarnlow";
constexpr const char *version = "1.7.0.0";

// Sets organisation name, domain and application name on the application object.
void apply();
}
