#pragma once
// Resources of KT_EMailer.dll (shared by the resource script and the code).

#define IDI_EMAIL_FORM 101
#define IDI_ADDRESS_PICKER 102
