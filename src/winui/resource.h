#pragma once

// Identifiers of the resources in vantory.rc, shared by the resource script and the code.

#define IDI_VANTORY 1

// The input box: a prompt above one line of text.
#define IDD_INPUT 100
#define IDC_PROMPT 101
#define IDC_ANSWER 102

// The password window.
#define IDD_LOGIN 200
#define IDC_PASSWORD_LABEL 201
#define IDC_PASSWORD 202
#define IDC_PASSWORD_HELP 203
