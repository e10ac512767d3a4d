#include "platform/x11/X11Content.h"

#include <xcb/randr.h>

#include <algorithm>
#include <string>

namespace corvane::x11 {
namespace {

std::string firstString(const std::vector<uint8_t>& bytes, size_t from = 0) {
    if (from >= bytes.size()) return {};
    auto begin = bytes.begin() + long(from);
    auto end = std::find(begin, bytes.end(), uint8_t(0));
    return std::string(begin, end);
}

}  // namespace

std::vector<DisplayInfo> listDisplays(Connection& conn) {
    std::vector<DisplayInfo> displays;
    if (!conn.ok()) return displays;
    xcb_connection_t* c = conn.get();
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_randr_id);
    if (ext && ext->present) {
        Reply<xcb_randr_get_output_primary_reply_t> primary(xcb_randr_get_output_primary_reply(
            c, xcb_randr_get_output_primary(c, conn.root()), nullptr));
        Reply<xcb_randr_get_screen_resources_current_reply_t> resources(
            xcb_randr_get_screen_resources_current_reply(
                c, xcb_randr_get_screen_resources_current(c, conn.root()), nullptr));
        if (resources) {
            xcb_randr_output_t* outputs =
                xcb_randr_get_screen_resources_current_outputs(resources.get());
            int count = xcb_randr_get_screen_resources_current_outputs_length(resources.get());
            for (int i = 0; i < count; ++i) {
                Reply<xcb_randr_get_output_info_reply_t> info(xcb_randr_get_output_info_reply(
                    c, xcb_randr_get_output_info(c, outputs[i], resources->config_timestamp),
                    nullptr));
                if (!info || info->connection != XCB_RANDR_CONNECTION_CONNECTED ||
                    info->crtc == XCB_NONE)
                    continue;
                Reply<xcb_randr_get_crtc_info_reply_t> crtc(xcb_randr_get_crtc_info_reply(
                    c, xcb_randr_get_crtc_info(c, info->crtc, resources->config_timestamp),
                    nullptr));
                if (!crtc || crtc->width == 0 || crtc->height == 0) continue;
                DisplayInfo d;
                d.id = outputs[i];
                const uint8_t* name = xcb_randr_get_output_info_name(info.get());
                d.name.assign(reinterpret_cast<const char*>(name),
                              size_t(xcb_randr_get_output_info_name_length(info.get())));
                d.x = crtc->x;
                d.y = crtc->y;
                d.width = crtc->width;
                d.height = crtc->height;
                d.isMain = primary && primary->output == outputs[i];
                displays.push_back(d);
            }
        }
    }
    if (displays.empty() && conn.screen()) {
        DisplayInfo d;
        d.id = 1;
        d.width = conn.screen()->width_in_pixels;
        d.height = conn.screen()->height_in_pixels;
        displays.push_back(d);
    }
    if (std::none_of(displays.begin(), displays.end(), [](auto& d) { return d.isMain; })) {
        auto first = std::min_element(displays.begin(), displays.end(),
                                      [](auto& a, auto& b) { return a.id < b.id; });
        if (first != displays.end()) first->isMain = true;
    }
    std::sort(displays.begin(), displays.end(), [](const DisplayInfo& a, const DisplayInfo& b) {
        if (a.isMain != b.isMain) return a.isMain;
        return a.id < b.id;
    });
    return displays;
}

std::vector<WindowInfo> listWindows(Connection& conn) {
    std::vector<WindowInfo> windows;
    if (!conn.ok()) return windows;
    xcb_connection_t* c = conn.get();
    xcb_window_t root = conn.root();
    xcb_atom_t clientList = conn.atom("_NET_CLIENT_LIST");
    xcb_atom_t wmState = conn.atom("_NET_WM_STATE");
    xcb_atom_t hidden = conn.atom("_NET_WM_STATE_HIDDEN");
    xcb_atom_t netWmName = conn.atom("_NET_WM_NAME");
    xcb_atom_t utf8 = conn.atom("UTF8_STRING");

    std::vector<xcb_window_t> candidates;
    bool fromWindowManager = false;
    if (auto list = conn.property32(root, clientList, XCB_ATOM_WINDOW)) {
        candidates.assign(list->begin(), list->end());
        fromWindowManager = true;
    } else {
        Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr));
        if (tree) {
            xcb_window_t* children = xcb_query_tree_children(tree.get());
            candidates.assign(children, children + xcb_query_tree_children_length(tree.get()));
        }
    }

    for (xcb_window_t window : candidates) {
        auto attrCookie = xcb_get_window_attributes(c, window);
        auto geoCookie = xcb_get_geometry(c, window);
        auto posCookie = xcb_translate_coordinates(c, window, root, 0, 0);
        Reply<xcb_get_window_attributes_reply_t> attrs(
            xcb_get_window_attributes_reply(c, attrCookie, nullptr));
        Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, geoCookie, nullptr));
        Reply<xcb_translate_coordinates_reply_t> position(
            xcb_translate_coordinates_reply(c, posCookie, nullptr));
        if (!attrs || !geometry || !position) continue;  // gone meanwhile
        if (attrs->map_state != XCB_MAP_STATE_VIEWABLE) continue;
        if (!fromWindowManager && attrs->override_redirect) continue;

        if (auto states = conn.property32(window, wmState, XCB_ATOM_ATOM)) {
            if (std::find(states->begin(), states->end(), hidden) != states->end()) continue;
        }
        auto wmClass = conn.property(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING);
        if (!fromWindowManager && !wmClass) continue;

        WindowInfo info;
        info.id = window;
        if (wmClass) {
            std::string instance = firstString(*wmClass);
            std::string klass = firstString(*wmClass, instance.size() + 1);
            info.appName = klass.empty() ? instance : klass;
        }
        if (auto name = conn.property(window, netWmName, utf8)) {
            info.title.assign(name->begin(), name->end());
        } else if (auto legacy = conn.property(window, XCB_ATOM_WM_NAME)) {
            info.title.assign(legacy->begin(), legacy->end());
        }
        while (!info.title.empty() && info.title.back() == '\0') info.title.pop_back();
        info.x = position->dst_x;
        info.y = position->dst_y;
        info.width = geometry->width;
        info.height = geometry->height;
        windows.push_back(std::move(info));
    }
    return windows;
}

}  // namespace corvane::x11
