#pragma once
// Resources of the address picker in the component's resource script.

#define IDI_ADDRESS_PICKER 102
