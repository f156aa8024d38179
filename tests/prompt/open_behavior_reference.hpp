// The reference output of the open-behaviour list: the byte streams written
// to standard error for a given run of keys, at 80 x 24 with and without
// colour and at 3 rows without colour (LF as written, before the terminal's
// output processing), and the screens a terminal shows of it.
#pragma once

#include <string>
#include <vector>

namespace kiv::testing::reference {

inline const std::string COLOUR_DOWN_ENTER =
    "\x1b[?25lConfigure default behavior for \x1b[34mkiv <path>\x1b[0m\n"
    "You can change this later in Kiv settings:\n"
    "> Add to existing Kiv window (\x1b[34mkiv --existing\x1b[0m)\n"
    "  Open a new window (\x1b[34mkiv --classic\x1b[0m)\n"
    "\x1b[2A\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\x1b[2A  Add to existing Kiv window (\x1b[34mkiv --existing\x1b[0m)\n"
    "> Open a new window (\x1b[34mkiv --classic\x1b[0m)\n"
    "\x1b[4A\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\x1b[4AConfigure default behavior for \x1b[34mkiv <path>\x1b[0m\n"
    "You can change this later in Kiv settings: Open a new window (\x1b[34mkiv --classic\x1b[0m)\n"
    "\x1b[?25h";
inline const std::string COLOUR_ENTER =
    "\x1b[?25lConfigure default behavior for \x1b[34mkiv <path>\x1b[0m\n"
    "You can change this later in Kiv settings:\n"
    "> Add to existing Kiv window (\x1b[34mkiv --existing\x1b[0m)\n"
    "  Open a new window (\x1b[34mkiv --classic\x1b[0m)\n"
    "\x1b[4A\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\x1b[4AConfigure default behavior for \x1b[34mkiv <path>\x1b[0m\n"
    "You can change this later in Kiv settings: Add to existing Kiv window (\x1b[34mkiv --existing\x1b[0m)\n"
    "\x1b[?25h";
inline const std::string PLAIN_DOWN_ENTER =
    "\x1b[?25lConfigure default behavior for kiv <path>\n"
    "You can change this later in Kiv settings:\n"
    "> Add to existing Kiv window (kiv --existing)\n"
    "  Open a new window (kiv --classic)\n"
    "\x1b[2A\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\x1b[2A  Add to existing Kiv window (kiv --existing)\n"
    "> Open a new window (kiv --classic)\n"
    "\x1b[4A\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\x1b[4AConfigure default behavior for kiv <path>\n"
    "You can change this later in Kiv settings: Open a new window (kiv --classic)\n"
    "\x1b[?25h";
inline const std::string PLAIN_ENTER =
    "\x1b[?25lConfigure default behavior for kiv <path>\n"
    "You can change this later in Kiv settings:\n"
    "> Add to existing Kiv window (kiv --existing)\n"
    "  Open a new window (kiv --classic)\n"
    "\x1b[4A\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\x1b[4AConfigure default behavior for kiv <path>\n"
    "You can change this later in Kiv settings: Add to existing Kiv window (kiv --existing)\n"
    "\x1b[?25h";
inline const std::string PLAIN_PAGED_DOWN_ENTER =
    "\x1b[?25lConfigure default behavior for kiv <path>\n"
    "You can change this later in Kiv settings: [Page 1/2] \n"
    "> Add to existing Kiv window (kiv --existing)\n"
    "\x1b[3A\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\x1b[3AConfigure default behavior for kiv <path>\n"
    "You can change this later in Kiv settings: [Page 2/2] \n"
    "> Open a new window (kiv --classic)\n"
    "\x1b[3A\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\x1b[3AConfigure default behavior for kiv <path>\n"
    "You can change this later in Kiv settings: Open a new window (kiv --classic)\n"
    "\x1b[?25h";
inline const std::string PLAIN_PAGED_ENTER =
    "\x1b[?25lConfigure default behavior for kiv <path>\n"
    "You can change this later in Kiv settings: [Page 1/2] \n"
    "> Add to existing Kiv window (kiv --existing)\n"
    "\x1b[3A\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\r\x1b[2K\x1b[1B\x1b[3AConfigure default behavior for kiv <path>\n"
    "You can change this later in Kiv settings: Add to existing Kiv window (kiv --existing)\n"
    "\x1b[?25h";

// The screen's top rows while the list waits at 80 x 24, nothing moved.
inline const std::vector<std::string> LIST_SHOWN = {
    "Configure default behavior for kiv <path>",
    "You can change this later in Kiv settings:",
    "> Add to existing Kiv window (kiv --existing)",
    "  Open a new window (kiv --classic)",
};

// The whole screen of a 3-row terminal showing the first or second page.
inline const std::vector<std::string> PAGE_1_SHOWN = {"You can change this later in Kiv settings: [Page 1/2]",
                                                      "> Add to existing Kiv window (kiv --existing)", ""};
inline const std::vector<std::string> PAGE_2_SHOWN = {"You can change this later in Kiv settings: [Page 2/2]",
                                                      "> Open a new window (kiv --classic)", ""};

}  // namespace kiv::testing::reference
