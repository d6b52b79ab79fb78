// The module's main unit: it only ties the units together. All work starts
// from the exported functions (Plugins/vopPluginExports.cpp).
