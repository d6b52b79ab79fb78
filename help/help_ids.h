/* Context numbers of the help topics the module opens. */
#define IDH_OPTIONS 80
