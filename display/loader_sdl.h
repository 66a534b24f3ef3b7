// SDL2 and SDL2_ttf loaded when the first window is wanted, not at start-up:
// the two libraries and everything they link (sound, fonts, X11, Wayland)
// take longer to load than a picture takes to unpack, and most runs open no
// window at all. Every SDL function the window code calls goes through the
// table below; including this header routes the calls (each name becomes
// the table's entry), so the window code reads as plain SDL.
#pragma once

#include <SDL.h>
#include <SDL_ttf.h>

#define VEXEL_SDL_FUNCTIONS(X) \
    X(SDL_CreateRGBSurfaceWithFormatFrom) \
    X(SDL_CreateRenderer) \
    X(SDL_CreateTexture) \
    X(SDL_CreateTextureFromSurface) \
    X(SDL_CreateWindow) \
    X(SDL_Delay) \
    X(SDL_DestroyRenderer) \
    X(SDL_DestroyTexture) \
    X(SDL_DestroyWindow) \
    X(SDL_FreeSurface) \
    X(SDL_GetCurrentVideoDriver) \
    X(SDL_GetDesktopDisplayMode) \
    X(SDL_GetDisplayBounds) \
    X(SDL_GetDisplayUsableBounds) \
    X(SDL_GetRendererOutputSize) \
    X(SDL_GetWindowDisplayIndex) \
    X(SDL_GetWindowFlags) \
    X(SDL_GetWindowID) \
    X(SDL_GetWindowPosition) \
    X(SDL_GetWindowSize) \
    X(SDL_GetWindowTitle) \
    X(SDL_Init) \
    X(SDL_MaximizeWindow) \
    X(SDL_PollEvent) \
    X(SDL_Quit) \
    X(SDL_RaiseWindow) \
    X(SDL_RenderClear) \
    X(SDL_RenderCopy) \
    X(SDL_RenderDrawLine) \
    X(SDL_RenderDrawRect) \
    X(SDL_RenderFillRect) \
    X(SDL_RenderPresent) \
    X(SDL_RestoreWindow) \
    X(SDL_SetHint) \
    X(SDL_SetRenderDrawColor) \
    X(SDL_SetTextureBlendMode) \
    X(SDL_SetWindowFullscreen) \
    X(SDL_SetWindowHitTest) \
    X(SDL_SetWindowIcon) \
    X(SDL_SetWindowInputFocus) \
    X(SDL_SetWindowPosition) \
    X(SDL_SetWindowSize) \
    X(SDL_SetWindowTitle) \
    X(SDL_ShowWindow) \
    X(SDL_UpdateTexture) \
    X(SDL_WaitEventTimeout)

#define VEXEL_TTF_FUNCTIONS(X) \
    X(TTF_CloseFont) \
    X(TTF_FontHeight) \
    X(TTF_Init) \
    X(TTF_OpenFont) \
    X(TTF_OpenFontDPI) \
    X(TTF_Quit) \
    X(TTF_RenderUTF8_Blended) \
    X(TTF_SizeUTF8) \
    X(TTF_WasInit)

namespace vexel::sdl {

struct Api {
#define VEXEL_SDL_ENTRY(name) decltype(&::name) name = nullptr;
    VEXEL_SDL_FUNCTIONS(VEXEL_SDL_ENTRY)
    VEXEL_TTF_FUNCTIONS(VEXEL_SDL_ENTRY)
#undef VEXEL_SDL_ENTRY
};
extern Api api;

// Loads both libraries and fills the table, once. False (and the table
// left empty) when either library or any of its functions is missing.
bool loadLibraries();
// True once loadLibraries has succeeded.
bool librariesLoaded();

} // namespace vexel::sdl


// The calls through the table (not in the file that fills it).
#ifndef VEXEL_SDL_API_FILLING
#define SDL_CreateRGBSurfaceWithFormatFrom (::vexel::sdl::api.SDL_CreateRGBSurfaceWithFormatFrom)
#define SDL_CreateRenderer (::vexel::sdl::api.SDL_CreateRenderer)
#define SDL_CreateTexture (::vexel::sdl::api.SDL_CreateTexture)
#define SDL_CreateTextureFromSurface (::vexel::sdl::api.SDL_CreateTextureFromSurface)
#define SDL_CreateWindow (::vexel::sdl::api.SDL_CreateWindow)
#define SDL_Delay (::vexel::sdl::api.SDL_Delay)
#define SDL_DestroyRenderer (::vexel::sdl::api.SDL_DestroyRenderer)
#define SDL_DestroyTexture (::vexel::sdl::api.SDL_DestroyTexture)
#define SDL_DestroyWindow (::vexel::sdl::api.SDL_DestroyWindow)
#define SDL_FreeSurface (::vexel::sdl::api.SDL_FreeSurface)
#define SDL_GetCurrentVideoDriver (::vexel::sdl::api.SDL_GetCurrentVideoDriver)
#define SDL_GetDesktopDisplayMode (::vexel::sdl::api.SDL_GetDesktopDisplayMode)
#define SDL_GetDisplayBounds (::vexel::sdl::api.SDL_GetDisplayBounds)
#define SDL_GetDisplayUsableBounds (::vexel::sdl::api.SDL_GetDisplayUsableBounds)
#define SDL_GetRendererOutputSize (::vexel::sdl::api.SDL_GetRendererOutputSize)
#define SDL_GetWindowDisplayIndex (::vexel::sdl::api.SDL_GetWindowDisplayIndex)
#define SDL_GetWindowFlags (::vexel::sdl::api.SDL_GetWindowFlags)
#define SDL_GetWindowID (::vexel::sdl::api.SDL_GetWindowID)
#define SDL_GetWindowPosition (::vexel::sdl::api.SDL_GetWindowPosition)
#define SDL_GetWindowSize (::vexel::sdl::api.SDL_GetWindowSize)
#define SDL_GetWindowTitle (::vexel::sdl::api.SDL_GetWindowTitle)
#define SDL_Init (::vexel::sdl::api.SDL_Init)
#define SDL_MaximizeWindow (::vexel::sdl::api.SDL_MaximizeWindow)
#define SDL_PollEvent (::vexel::sdl::api.SDL_PollEvent)
#define SDL_Quit (::vexel::sdl::api.SDL_Quit)
#define SDL_RaiseWindow (::vexel::sdl::api.SDL_RaiseWindow)
#define SDL_RenderClear (::vexel::sdl::api.SDL_RenderClear)
#define SDL_RenderCopy (::vexel::sdl::api.SDL_RenderCopy)
#define SDL_RenderDrawLine (::vexel::sdl::api.SDL_RenderDrawLine)
#define SDL_RenderDrawRect (::vexel::sdl::api.SDL_RenderDrawRect)
#define SDL_RenderFillRect (::vexel::sdl::api.SDL_RenderFillRect)
#define SDL_RenderPresent (::vexel::sdl::api.SDL_RenderPresent)
#define SDL_RestoreWindow (::vexel::sdl::api.SDL_RestoreWindow)
#define SDL_SetHint (::vexel::sdl::api.SDL_SetHint)
#define SDL_SetRenderDrawColor (::vexel::sdl::api.SDL_SetRenderDrawColor)
#define SDL_SetTextureBlendMode (::vexel::sdl::api.SDL_SetTextureBlendMode)
#define SDL_SetWindowFullscreen (::vexel::sdl::api.SDL_SetWindowFullscreen)
#define SDL_SetWindowHitTest (::vexel::sdl::api.SDL_SetWindowHitTest)
#define SDL_SetWindowIcon (::vexel::sdl::api.SDL_SetWindowIcon)
#define SDL_SetWindowInputFocus (::vexel::sdl::api.SDL_SetWindowInputFocus)
#define SDL_SetWindowPosition (::vexel::sdl::api.SDL_SetWindowPosition)
#define SDL_SetWindowSize (::vexel::sdl::api.SDL_SetWindowSize)
#define SDL_SetWindowTitle (::vexel::sdl::api.SDL_SetWindowTitle)
#define SDL_ShowWindow (::vexel::sdl::api.SDL_ShowWindow)
#define SDL_UpdateTexture (::vexel::sdl::api.SDL_UpdateTexture)
#define SDL_WaitEventTimeout (::vexel::sdl::api.SDL_WaitEventTimeout)
#define TTF_CloseFont (::vexel::sdl::api.TTF_CloseFont)
#define TTF_FontHeight (::vexel::sdl::api.TTF_FontHeight)
#define TTF_Init (::vexel::sdl::api.TTF_Init)
#define TTF_OpenFont (::vexel::sdl::api.TTF_OpenFont)
#define TTF_OpenFontDPI (::vexel::sdl::api.TTF_OpenFontDPI)
#define TTF_Quit (::vexel::sdl::api.TTF_Quit)
#define TTF_RenderUTF8_Blended (::vexel::sdl::api.TTF_RenderUTF8_Blended)
#define TTF_SizeUTF8 (::vexel::sdl::api.TTF_SizeUTF8)
#define TTF_WasInit (::vexel::sdl::api.TTF_WasInit)
#endif
