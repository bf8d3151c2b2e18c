#pragma once
// Resource ids of the installer's icon, dialog templates and controls.

#define IDI_VORLATCH 128
