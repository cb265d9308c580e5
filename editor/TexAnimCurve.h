// Animation curves: a curve maps a time in [0, 1] to a value in [0, 1] through its active points,
// scaled into the curve's [Min, Max] and written into one scalar channel of a node's parameters;
// the node is then re-created from the animated parameters. The record itself (SAnimCurve) and its
// "AnimData" text live with the node base.
#pragma once

#include "TexProcNode.h"

// Piecewise cubic through the active points, in [0, 1]; 0 without active points. Points out of
// time order or sharing a time never divide by zero, and a value that is not a number is 0.
float EvaluateAnimCurve(const SAnimCurve& curve, float t);

// Writes v into the property a channel descriptor names ("Gain", or "Shift[y]" for component 1 of
// "Shift") in a node's captured list, rounded (ties to even) for an Int and clamped to the
// property's (or component's) minimum and maximum. false when no property of the list takes it.
bool SetAnimChannelValue(TArray<SPropDesc>& list, const SPropDesc& channel, float v);

// Re-creates node with every curve applied at time t and returns the node that now stands in the
// graph (node itself when it cannot be re-created).
STexProcNode* ApplyAnimation(STexProcessor* processor, STexProcNode* node, float t);

// Draws one curve in rect (canvas units of node) and, when editable, lets the mouse add, drag and
// remove points. Returns 1 when a drag ended (the curve changed).
int CurveEditor(STexProcNode& node, SAnimCurve& curve, const mRect& rect, bool editable);
