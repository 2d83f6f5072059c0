// Stands in for a layer that has no sources yet, so that every layer is a valid library.
namespace kova::detail {
int layerAnchor = 0;
}
