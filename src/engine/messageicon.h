#pragma once

/** The kind of a message the job asks its host to show. */
enum class MessageIcon { Information, Warning, Error };
