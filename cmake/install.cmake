# Installation rules, CMake package, pkg-config file and CPack settings.
