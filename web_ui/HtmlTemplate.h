#pragma once

#include "httpd/tarvik.h"

#include <cstddef>
#include <map>
#include <string>

// The template language of the wizard's pages: {key} catalogue texts, {@name} values, {#name} and
// {^name} sections closed by {/name}, {!text!} comments. Values are written as given: pages escape
// them for their context before they put them into the variables.
using TemplateVariables = std::map<std::string, std::string>;

// Renders the template into `space` bytes at `out`; what does not fit is dropped. Names the template
// uses but the variables lack are added with empty values. Returns the number of bytes written.
size_t renderTemplate(const char* text, size_t length, TemplateVariables& variables, char* out, size_t space);

// Renders into the free space of the reply and advances its byte count.
int send_html_chunk(httpd_arg* arg, const char* text, size_t length, TemplateVariables& variables);
