#pragma once
// Resources of the composition window in the component's resource script.

#define IDI_EMAIL_FORM 101
