#include "tools/horizontal-grid/PictureOutput.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <memory>
#include <stdexcept>

#include <cairo-pdf.h>
#include <cairo.h>
#include <librsvg/rsvg.h>

#include "tools/horizontal-grid/CodeInput.h"

namespace Lumetra::Tools {
namespace {

std::string extension(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return "";
    std::string result = path.substr(dot + 1);
    std::transform(result.begin(), result.end(), result.begin(), [](unsigned char c) { return std::tolower(c); });
    return result;
}

struct HandleRelease {
    void operator()(RsvgHandle* handle) const { g_object_unref(handle); }
};
struct SurfaceRelease {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct ContextRelease {
    void operator()(cairo_t* context) const { cairo_destroy(context); }
};

std::unique_ptr<RsvgHandle, HandleRelease> parse(const std::string& svg, double dotsPerInch) {
    GError* error = nullptr;
    RsvgHandle* handle =
        rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(svg.data()), svg.size(), &error);
    if (handle == nullptr) {
        const std::string message = error != nullptr ? error->message : "unknown error";
        if (error != nullptr) g_error_free(error);
        throw std::runtime_error("cannot render the picture: " + message);
    }
    rsvg_handle_set_dpi(handle, dotsPerInch);
    return std::unique_ptr<RsvgHandle, HandleRelease>(handle);
}

void render(RsvgHandle* handle, cairo_surface_t* surface, double width, double height) {
    const std::unique_ptr<cairo_t, ContextRelease> context(cairo_create(surface));
    const RsvgRectangle viewport{0, 0, width, height};
    GError* error = nullptr;
    if (!rsvg_handle_render_document(handle, context.get(), &viewport, &error)) {
        const std::string message = error != nullptr ? error->message : "unknown error";
        if (error != nullptr) g_error_free(error);
        throw std::runtime_error("cannot render the picture: " + message);
    }
}

}  // namespace

void writePicture(const std::string& path, const std::string& svg, double dotsPerInch) {
    const std::string kind = extension(path);
    if (kind != "png" && kind != "pdf") {
        writeOutput(path, svg);
        return;
    }
    const auto handle = parse(svg, dotsPerInch);
    double width = 0, height = 0;
    if (!rsvg_handle_get_intrinsic_size_in_pixels(handle.get(), &width, &height) || !(width > 0) || !(height > 0))
        throw std::runtime_error("cannot render the picture: it has no size");
    cairo_status_t status;
    if (kind == "pdf") {
        // PDF points are 1/72 inch.
        const double scale = 72.0 / dotsPerInch;
        const std::unique_ptr<cairo_surface_t, SurfaceRelease> surface(
            cairo_pdf_surface_create(path.c_str(), width * scale, height * scale));
        render(handle.get(), surface.get(), width * scale, height * scale);
        cairo_surface_finish(surface.get());
        status = cairo_surface_status(surface.get());
    } else {
        const std::unique_ptr<cairo_surface_t, SurfaceRelease> surface(cairo_image_surface_create(
            CAIRO_FORMAT_ARGB32, static_cast<int>(std::ceil(width)), static_cast<int>(std::ceil(height))));
        render(handle.get(), surface.get(), width, height);
        status = cairo_surface_write_to_png(surface.get(), path.c_str());
    }
    if (status != CAIRO_STATUS_SUCCESS)
        throw std::runtime_error("cannot write " + path + ": " + cairo_status_to_string(status));
}

}  // namespace Lumetra::Tools
